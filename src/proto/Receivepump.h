#pragma once
// Feeds received bytes through both framers in the receive loop's order: each byte goes
// first to the frame parser, then to the line framer, and every completed message is
// handed over before the next byte is fed. After a frame completes the line framer starts
// afresh, so a sentence that follows a frame is not glued to the frame's bytes.
//
// Runs of bytes that can complete nothing in either framer (text while the frame parser
// hunts, payload while no line end comes) are taken in bulk; the result is the same as
// stepping byte by byte, which the tests check.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "proto/Crlfproto.h"
#include "proto/Diagproto.h"

template <typename OnFrame, typename OnLine>
void feed_received_bytes(DiagProto& diag, CRLFProto& crlf, const uint8_t* bytes, size_t n, OnFrame&& onFrame,
                         OnLine&& onLine) {
    size_t i = 0;
    while (i < n) {
        const size_t quiet = std::min(diag.QuietRun(bytes + i, n - i), crlf.QuietRun(bytes + i, n - i));
        if (quiet > 0) {
            diag.TakeQuietRun(bytes + i, quiet);
            crlf.TakeQuietRun(bytes + i, quiet);
            i += quiet;
            continue;
        }
        const uint8_t byte = bytes[i++];
        const bool frameDone = diag.ProcessByte(byte);
        if (frameDone) {
            onFrame(diag);
        }
        if (crlf.ProcessByte(byte)) {
            onLine(crlf);
        }
        if (frameDone) {
            crlf.Reset();
        }
    }
}
