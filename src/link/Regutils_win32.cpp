// The port list of Windows: the values of HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM,
// whose data are the port names, fed to the ordering rule of Regutils.cpp.
#include <windows.h>

#include "link/Regutils.h"

namespace {

// Opens HARDWARE, DEVICEMAP and SERIALCOMM one level at a time, closing the levels above.
bool OpenSerialCommKey(HKEY& key) {
    const char* const levels[] = {"HARDWARE", "DEVICEMAP", "SERIALCOMM"};
    HKEY parent = HKEY_LOCAL_MACHINE;
    for (const char* level : levels) {
        HKEY child = nullptr;
        const LONG result = RegOpenKeyExA(parent, level, 0, KEY_READ, &child);
        if (parent != HKEY_LOCAL_MACHINE) {
            RegCloseKey(parent);
        }
        if (result != ERROR_SUCCESS) {
            return false;
        }
        parent = child;
    }
    key = parent;
    return true;
}

}  // namespace

bool ListSerialPorts(StringDeque& list) {
    HKEY key = nullptr;
    SerialCommSource source;
    source.openKey = [&key] { return OpenSerialCommKey(key); };
    source.enumValue = [&key](uint32_t index, char* name, uint32_t* nameLength, uint8_t* data,
                              uint32_t* dataLength) {
        DWORD nameSize = *nameLength;
        DWORD dataSize = *dataLength;
        const LONG result = RegEnumValueA(key, index, name, &nameSize, nullptr, nullptr, data, &dataSize);
        *nameLength = nameSize;
        *dataLength = dataSize;
        return static_cast<int32_t>(result);
    };
    const bool listed = ListSerialCommPorts(source, list);
    if (key != nullptr) {
        RegCloseKey(key);
    }
    return listed;
}
