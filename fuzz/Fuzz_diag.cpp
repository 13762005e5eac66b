// Feeds arbitrary bytes to the frame parser, with the receive loop's limit and with the
// loader's smaller one, and checks every completed frame against the frame's own rules.
#include <cstdint>
#include <cstdlib>

#include "proto/Bytes.h"
#include "proto/Diagproto.h"
#include "proto/Frame.h"

namespace {
void CheckFrame(const uint8_t* f, uint16_t total, uint16_t limit) {
    const bool ok = total >= 8 && total <= limit && f[0] == 0x02 && f[1] == 0x99 && f[2] == 0x66 &&
                    f[total - 1] == 0x03 && get_le16(f + 4) + 4u == total &&
                    xor_checksum(f + 3, static_cast<uint16_t>(total - 4)) == 0;
    if (!ok) {
        std::abort();
    }
}

void Run(const uint8_t* data, size_t size, uint16_t limit) {
    static uint8_t buffer[DiagProto::kBufferSize];
    DiagFrameState st;
    for (size_t i = 0; i < size; ++i) {
        if (diag_frame_step(data[i], st, buffer, limit) == kDiagFrame) {
            CheckFrame(buffer, st.total, limit);
        }
    }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Run(data, size, DiagProto::kBufferSize);
    Run(data, size, 1024);
    Run(data, size, 16);
    return 0;
}
