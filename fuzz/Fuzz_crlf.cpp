// Feeds arbitrary bytes to the line framer and checks that every completed line ends in
// CR LF and fits the limit.
#include <cstdint>
#include <cstdlib>
#include <initializer_list>

#include "proto/Crlfproto.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static uint8_t buffer[CRLFProto::kBufferSize];
    for (uint16_t limit : {uint16_t{CRLFProto::kBufferSize}, uint16_t{8}}) {
        CrlfFrameState st;
        for (size_t i = 0; i < size; ++i) {
            if (crlf_frame_step(data[i], st, buffer, limit) == kCrlfLine) {
                if (st.count < 2 || st.count > limit || buffer[st.count - 2] != 13 ||
                    buffer[st.count - 1] != 10) {
                    std::abort();
                }
            }
        }
    }
    return 0;
}
