// The port list of a POSIX system.
#include <algorithm>
#include <filesystem>

#include "link/Regutils.h"

#ifdef __APPLE__
namespace {
// macOS has no tty class directory; its call-out devices are /dev/cu.*.
bool ListCallOutDevices(StringDeque& list) {
    list.clear();
    std::error_code error;
    for (std::filesystem::directory_iterator it("/dev", error);
         !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.rfind("cu.", 0) == 0) {
            list.push_back(name);
        }
    }
    if (error) {
        list.clear();
        return false;
    }
    SortPortNames(list);
    return true;
}
}  // namespace
#endif

bool ListSerialPorts(StringDeque& list) {
#ifdef __APPLE__
    return ListCallOutDevices(list);
#else
    return ListTtyDevices("/sys/class/tty", list);
#endif
}
