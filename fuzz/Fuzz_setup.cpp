// Feeds arbitrary text to the setup file reader (and the JSON reader beneath it). Whatever the
// text, a file that is accepted holds only what Apply takes, and writes back to a file that
// reads as the same settings.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "config/Setupfile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const SetupRead read = ReadSetupFile(text);
    if (!read.file) {
        if (read.error.empty()) {
            std::abort();
        }
        return 0;
    }
    if (!EncodeApply(read.file->controls).payload) {
        std::abort();
    }
    std::string error;
    const auto written = WriteSetupFile(read.file->controls, read.file->receiverSoftware, 0, error);
    if (!written) {
        std::abort();
    }
    const SetupRead again = ReadSetupFile(*written);
    if (!again.file || !SetupChanges(read.file->controls, again.file->controls).empty()) {
        std::abort();
    }
    return 0;
}
