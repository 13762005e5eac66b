// Feeds arbitrary text to the S-record scan and block reader. Whatever the bytes, blocks stay
// within 256 bytes on 256-byte boundaries, and a text the scan finds sound loses nothing.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "loader/Srec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    SrecTextLines scanLines(text);
    const SrecScan scan = srec_scan(scanLines);

    SrecTextLines blockLines(text);
    SrecBlockReader reader;
    uint8_t block[kSrecBlockSize];
    bool more = true;
    for (size_t calls = 0; more && calls <= 3 * size + 2; ++calls) {
        uint32_t address = 0;
        uint32_t length = 0;
        more = reader.Next(blockLines, block, &address, &length);
        if (length > kSrecBlockSize || (length > 0 && address % kSrecBlockSize != 0)) {
            std::abort();
        }
    }
    if (scan.Ok() && (reader.DroppedRecords() > 0 || reader.EndedOnError())) {
        std::abort();
    }
    return 0;
}
