#include "sim/Simline.h"

namespace {

struct SpeedRow {
    uint32_t baud;
    speed_t speed;
};

constexpr SpeedRow kSpeeds[] = {
    {1200, B1200},   {2400, B2400},   {4800, B4800},   {9600, B9600},
    {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200},
};

}  // namespace

speed_t SpeedForBaud(uint32_t baud) {
    for (const SpeedRow& row : kSpeeds) {
        if (row.baud == baud) {
            return row.speed;
        }
    }
    return B0;
}

uint32_t BaudForSpeed(speed_t speed) {
    for (const SpeedRow& row : kSpeeds) {
        if (row.speed == speed) {
            return row.baud;
        }
    }
    return 0;
}

bool SetRawLine(int fd, uint32_t baud) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) {
        return false;
    }
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cc[VMIN] = 1;  // a blocking read (a plain `cat`) waits for data instead of seeing an end
    tio.c_cc[VTIME] = 0;
    const speed_t speed = SpeedForBaud(baud);
    if (speed == B0 || cfsetispeed(&tio, speed) != 0 || cfsetospeed(&tio, speed) != 0) {
        return false;
    }
    return tcsetattr(fd, TCSANOW, &tio) == 0;
}
