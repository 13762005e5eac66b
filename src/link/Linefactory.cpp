#include "link/Linefactory.h"

#include "link/Netaddress.h"
#include "link/Netline.h"
#include "link/Serialport.h"

std::unique_ptr<Line> MakeLine(const std::string& name) {
    if (IsNetworkDevice(name)) {
        return std::make_unique<NetLine>(name);
    }
    return std::make_unique<SerialPort>();
}

bool IsTypedLineName(const std::string& name) {
    return IsNetworkDevice(name);
}
