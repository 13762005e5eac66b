#pragma once
// Small helpers for writing frames and byte strings in tests.
#include <cstdint>
#include <string>
#include <vector>

#include "proto/Frame.h"
#include "proto/Messages.h"

using Bytes = std::vector<uint8_t>;

inline Bytes FrameOf(uint8_t id, const Bytes& payload) {
    Bytes out(payload.size() + frame::kOverhead);
    out.resize(build_frame(id, payload.data(), static_cast<uint16_t>(payload.size()), out.data()));
    return out;
}

inline Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

inline Bytes Text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}
