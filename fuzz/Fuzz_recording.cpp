// Feeds arbitrary bytes to the recording reader, as a recording and as a plain capture.
// Whatever the bytes, chunks hold 1 to 65535 bytes, their times never go backwards, and the
// reader ends without reading past the input.
#include <cstdint>
#include <cstdlib>

#include "record/Recording.h"

namespace {
void ReadAll(const uint8_t* data, size_t size, uint32_t plainBaud) {
    MemorySource source(data, size);
    RecordingReader reader(source, plainBaud);
    if (!reader.Start()) {
        return;
    }
    uint64_t last = 0;
    size_t total = 0;
    for (RecordingChunk chunk; reader.Next(chunk);) {
        if (chunk.size == 0 || chunk.size > recording::kMaxChunkData || chunk.timeUs < last) {
            std::abort();
        }
        last = chunk.timeUs;
        total += chunk.size;
    }
    if (total > size || reader.Stop() == RecordingStop::kNone) {
        std::abort();
    }
    (void)reader.Problem();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ReadAll(data, size, 0);
    ReadAll(data, size, 4800);
    return 0;
}
