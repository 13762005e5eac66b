#include "Testport.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "sim/Simline.h"

bool TestPort::Open(const std::string& name, uint32_t baudRate, int /*parity*/) {
    Close();
    fd_ = ::open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
        return false;
    }
    if (!SetRawLine(fd_, baudRate)) {
        Close();
        return false;
    }
    return true;
}

void TestPort::Close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

bool TestPort::Read(uint8_t* buffer, uint32_t capacity, uint32_t* received, int32_t waitMs) {
    *received = 0;
    if (fd_ < 0) {
        return false;
    }
    pollfd pfd{fd_, POLLIN, 0};
    const int wait = blocking_ ? -1 : waitMs;
    const int ready = poll(&pfd, 1, wait);
    if (ready < 0) {
        return errno == EINTR;
    }
    if (ready == 0) {
        return true;
    }
    const ssize_t n = ::read(fd_, buffer, capacity);
    if (n > 0) {
        *received = static_cast<uint32_t>(n);
        return true;
    }
    // A hung-up line (the device vanished) reads as an end or an I/O error.
    return n < 0 && (errno == EAGAIN || errno == EINTR);
}

bool TestPort::Write(const uint8_t* buffer, uint32_t count, uint32_t* written) {
    uint32_t done = 0;
    int waitsLeft = 50;  // a line that takes nothing for five seconds has failed
    while (fd_ >= 0 && done < count) {
        const ssize_t n = ::write(fd_, buffer + done, count - done);
        if (n < 0 && (errno == EAGAIN || errno == EINTR) && waitsLeft-- > 0) {
            pollfd pfd{fd_, POLLOUT, 0};
            poll(&pfd, 1, 100);
            continue;
        }
        if (n <= 0) {
            break;
        }
        done += static_cast<uint32_t>(n);
    }
    if (written != nullptr) {
        *written = done;
    }
    return done == count;
}

bool TestPort::SetBaudRate(uint32_t baudRate) {
    return fd_ >= 0 && SetRawLine(fd_, baudRate);
}

void TestPort::Purge() {
    if (fd_ >= 0) {
        tcflush(fd_, TCIOFLUSH);
    }
}
