#pragma once
// The list of the serial ports this machine has, for the port dialog.
//
// Windows lists the values of HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM; Linux lists
// the serial devices of /sys/class/tty. Both feed a rule that needs no system, so the rules
// can be checked anywhere with a made-up enumeration or directory tree.
#include <cstdint>
#include <deque>
#include <functional>
#include <string>

using StringDeque = std::deque<std::string>;

// Fills `list` with the port names of this machine ("COM1", "ttyUSB0": names, not paths).
// False, with the list empty, when the system's list cannot be read.
bool ListSerialPorts(StringDeque& list);

// --- the registry rule -------------------------------------------------------------------

// Results of one registry value enumeration step, with the system's numbers.
constexpr int32_t kRegSuccess = 0;
constexpr int32_t kRegMoreData = 234;     // a name or data does not fit its buffer
constexpr int32_t kRegNoMoreItems = 259;  // the index is past the last value

// Capacity of the value-name buffer (characters) and of the data buffer (bytes).
constexpr uint32_t kRegBufferUnits = 100;

// The SERIALCOMM key as the rule sees it. `openKey` opens it (false when any level is
// missing). `enumValue` behaves as the system's value enumeration: it fills the name and
// data buffers for value `index`, given their capacities in *nameLength and *dataLength,
// and sets both lengths; it returns one of the results above (or another system error).
struct SerialCommSource {
    std::function<bool()> openKey;
    std::function<int32_t(uint32_t index, char* name, uint32_t* nameLength, uint8_t* data,
                          uint32_t* dataLength)>
        enumValue;
};

// The port list from the SERIALCOMM values: "COM1" and then "COM2" first (those present),
// the rest in enumeration order, no sorting and no removal of duplicates. True when the
// enumeration ran to its end; false with the list empty when the key is missing or a value
// could not be read whole (a name or data of 100 units or more).
bool ListSerialCommPorts(const SerialCommSource& source, StringDeque& list);

// --- the Linux rule ----------------------------------------------------------------------

// The serial devices under a sysfs tty class directory (normally /sys/class/tty): entries
// with a device that has a driver bound, without the unused ttyS placeholders (those whose
// "type" attribute says no UART). Natural order ("ttyUSB2" before "ttyUSB10"), with ttyS0
// and then ttyS1 first where they exist. False, with the list empty, when the directory
// cannot be read.
bool ListTtyDevices(const std::string& ttyClassDir, StringDeque& list);

// Sorts names as ListTtyDevices gives them.
void SortPortNames(StringDeque& names);
