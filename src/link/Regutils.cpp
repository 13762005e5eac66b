// The port-list rules, free of any system call.
#include "link/Regutils.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <tuple>

namespace fs = std::filesystem;

namespace {

// Registry data taken as a zero-terminated string, but never past the bytes returned:
// a value stored without its terminator must not read beyond the buffer.
std::string DataAsString(const uint8_t* data, uint32_t length) {
    const auto* text = reinterpret_cast<const char*>(data);
    return {text, strnlen(text, std::min(length, kRegBufferUnits))};
}

// An entry of the tty class is a usable serial port when its device has a driver bound,
// and, for ports of the serial core, when a UART was found (type 0 means none: one of the
// ttyS placeholders the kernel creates whether or not the hardware exists).
bool IsSerialDevice(const fs::path& entry) {
    std::error_code error;
    if (!fs::exists(entry / "device" / "driver", error)) {
        return false;
    }
    std::ifstream typeFile(entry / "type");
    int type = -1;
    if (typeFile >> type) {
        return type != 0;
    }
    return true;
}

// Orders names naturally: runs of digits compare by value, other runs by their characters.
bool NaturalLess(const std::string& a, const std::string& b) {
    size_t i = 0;
    size_t j = 0;
    auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            const size_t iEnd = std::find_if_not(a.begin() + i, a.end(), isDigit) - a.begin();
            const size_t jEnd = std::find_if_not(b.begin() + j, b.end(), isDigit) - b.begin();
            // Compare values without converting: drop leading zeros, then length, then digits.
            const size_t iStart = std::min(a.find_first_not_of('0', i), iEnd);
            const size_t jStart = std::min(b.find_first_not_of('0', j), jEnd);
            const std::string_view da(a.data() + iStart, iEnd - iStart);
            const std::string_view db(b.data() + jStart, jEnd - jStart);
            if (da.size() != db.size()) {
                return da.size() < db.size();
            }
            if (da != db) {
                return da < db;
            }
            i = iEnd;
            j = jEnd;
        } else {
            if (a[i] != b[j]) {
                return a[i] < b[j];
            }
            ++i;
            ++j;
        }
    }
    if ((a.size() - i) != (b.size() - j)) {
        return (a.size() - i) < (b.size() - j);
    }
    return a < b;  // equal by value ("ttyS01" and "ttyS1"): any fixed order will do
}

// The first two legacy serial ports lead the list, as COM1 and COM2 do on Windows.
int Rank(const std::string& name) {
    if (name == "ttyS0") {
        return 0;
    }
    return name == "ttyS1" ? 1 : 2;
}

}  // namespace

bool ListSerialCommPorts(const SerialCommSource& source, StringDeque& list) {
    list.clear();
    if (!source.openKey || !source.enumValue || !source.openKey()) {
        return false;
    }
    bool sawCom1 = false;
    bool sawCom2 = false;
    int32_t result = kRegSuccess;
    for (uint32_t index = 0; result == kRegSuccess; ++index) {
        char name[kRegBufferUnits] = {};
        uint8_t data[kRegBufferUnits] = {};
        uint32_t nameLength = kRegBufferUnits;
        uint32_t dataLength = kRegBufferUnits;
        result = source.enumValue(index, name, &nameLength, data, &dataLength);
        if (result != kRegSuccess) {
            break;
        }
        std::string port = DataAsString(data, dataLength);
        if (port == "COM1") {
            sawCom1 = true;
            list.push_front(std::move(port));
        } else if (port == "COM2") {
            sawCom2 = true;
            list.push_front(std::move(port));
        } else {
            list.push_back(std::move(port));
        }
    }
    // COM1 seen before COM2 ends up behind it; put the two back in order.
    if (sawCom1 && sawCom2 && list.front() == "COM2") {
        list[0] = "COM1";
        list[1] = "COM2";
    }
    if (result != kRegNoMoreItems) {
        list.clear();
        return false;
    }
    return true;
}

void SortPortNames(StringDeque& names) {
    std::stable_sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        const int rankA = Rank(a);
        const int rankB = Rank(b);
        if (rankA != rankB) {
            return rankA < rankB;
        }
        return NaturalLess(a, b);
    });
}

bool ListTtyDevices(const std::string& ttyClassDir, StringDeque& list) {
    list.clear();
    std::error_code error;
    fs::directory_iterator it(ttyClassDir, error);
    if (error) {
        return false;
    }
    for (; !error && it != fs::directory_iterator(); it.increment(error)) {
        if (IsSerialDevice(it->path())) {
            list.push_back(it->path().filename().string());
        }
    }
    if (error) {
        list.clear();
        return false;
    }
    SortPortNames(list);
    return true;
}
