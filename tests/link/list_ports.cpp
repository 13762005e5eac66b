// Prints the serial ports of this machine, one name a line, as the port dialog lists them.
#include <cstdio>

#include "link/Regutils.h"

int main() {
    StringDeque ports;
    if (!ListSerialPorts(ports)) {
        std::fprintf(stderr, "list_ports: the system's list of serial ports could not be read\n");
        return 1;
    }
    for (const std::string& name : ports) {
        std::printf("%s\n", name.c_str());
    }
    if (ports.empty()) {
        std::fprintf(stderr, "list_ports: no serial ports\n");
    }
    return 0;
}
