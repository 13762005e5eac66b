// POSIX backend of SerialPort (Linux; also builds on macOS).
//
// The descriptor stays non-blocking for its whole life; every wait is a poll() with a time
// limit, so no call can hang past its time-out and nothing spins while waiting.
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <vector>

#include "link/Serialport.h"
#include "link/Serialport_posix.h"

#ifdef __linux__
#include <linux/serial.h>
#endif

struct SerialPort::Native {
    int fd = -1;
};

namespace {

constexpr int kQuietGapMs = Line::kQuietGapMs;
// A full output queue is looked at again at least this often.
constexpr int kWriteRetryMs = 50;

struct RateEntry {
    uint32_t rate;
    speed_t speed;
};

constexpr RateEntry kRates[] = {
    {4800, B4800}, {9600, B9600}, {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200},
};

int64_t NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// The end of a wait given in milliseconds; a negative limit means no end.
class Deadline {
  public:
    explicit Deadline(int64_t limitMs) : unlimited_(limitMs < 0), end_(unlimited_ ? 0 : NowMs() + limitMs) {}

    // Milliseconds left as a poll() time-out: -1 without limit, else 0 or more.
    int RemainingMs() const {
        if (unlimited_) {
            return -1;
        }
        return static_cast<int>(std::clamp<int64_t>(end_ - NowMs(), 0, INT_MAX));
    }
    // The time left, but no more than `cap` milliseconds.
    int RemainingMs(int cap) const {
        const int left = RemainingMs();
        return left < 0 ? cap : std::min(left, cap);
    }
    bool Passed() const { return !unlimited_ && NowMs() >= end_; }

  private:
    bool unlimited_;
    int64_t end_;
};

enum class Wait { kReady, kTimedOut, kHungUp, kFailed };

struct WaitResult {
    Wait kind;
    int error;
};

// Waits until the descriptor is ready for `events`, the device hangs up, or the time-out
// (-1 without limit) passes.
WaitResult WaitReady(int fd, short events, int timeoutMs) {
    pollfd p{fd, events, 0};
    int n = 0;
    do {
        n = ::poll(&p, 1, timeoutMs);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        return {Wait::kFailed, errno};
    }
    if (n == 0) {
        return {Wait::kTimedOut, 0};
    }
    if ((p.revents & events) != 0) {
        return {Wait::kReady, 0};  // a hang-up with data still queued: read the data first
    }
    return {Wait::kHungUp, EIO};
}

enum class Take { kData, kNothing, kHungUp, kFailed };

struct TakeResult {
    Take kind;
    int error;
    uint32_t count;
};

// One read of whatever the driver holds, without waiting.
TakeResult TakeAvailable(int fd, uint8_t* buffer, uint32_t capacity) {
    for (;;) {
        const ssize_t n = ::read(fd, buffer, capacity);
        if (n > 0) {
            return {Take::kData, 0, static_cast<uint32_t>(n)};
        }
        if (n == 0) {
            return {Take::kHungUp, EIO, 0};  // end of file on a tty: the line hung up
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            return {Take::kNothing, 0, 0};
        }
        if (errno == EIO) {
            return {Take::kHungUp, EIO, 0};  // device gone, or far end of a pty closed
        }
        if (errno != EINTR) {
            return {Take::kFailed, errno, 0};
        }
    }
}

// What a read or write moved, and the error that ended it (0 for none).
struct Transfer {
    uint32_t count;
    int error;
};

// Non-blocking mode: whatever the driver holds, possibly nothing.
Transfer ReadAtOnce(int fd, uint8_t* buffer, uint32_t capacity) {
    if (capacity == 0) {
        return {0, 0};
    }
    const TakeResult taken = TakeAvailable(fd, buffer, capacity);
    return {taken.count, taken.kind == Take::kHungUp || taken.kind == Take::kFailed ? taken.error : 0};
}

// Blocking mode: waits for the first byte, then keeps taking bytes until the line has been
// quiet for the gap, the buffer is full or the wait is over. Bytes already taken are always
// returned; a failure after them shows at the next read.
Transfer ReadUntilQuiet(int fd, uint8_t* buffer, uint32_t capacity, int32_t waitMs) {
    const Deadline deadline(waitMs);
    uint32_t count = 0;
    while (count < capacity) {
        const int timeoutMs = count == 0 ? deadline.RemainingMs() : deadline.RemainingMs(kQuietGapMs);
        const WaitResult waited = WaitReady(fd, POLLIN, timeoutMs);
        if (waited.kind == Wait::kTimedOut) {
            if (count > 0) {
                break;
            }
            if (deadline.Passed()) {
                return {0, ETIMEDOUT};
            }
            continue;
        }
        if (waited.kind != Wait::kReady) {
            return {count, waited.error};
        }
        const TakeResult taken = TakeAvailable(fd, buffer + count, capacity - count);
        if (taken.kind == Take::kHungUp || taken.kind == Take::kFailed) {
            return {count, taken.error};
        }
        if (taken.kind == Take::kNothing && count > 0) {
            break;
        }
        count += taken.count;
    }
    return {count, 0};
}

// Writes all bytes, waiting for room in the driver's queue until the deadline.
Transfer WriteWithin(int fd, const uint8_t* buffer, uint32_t count, const Deadline& deadline) {
    uint32_t done = 0;
    while (done < count) {
        const ssize_t n = ::write(fd, buffer + done, count - done);
        if (n > 0) {
            done += static_cast<uint32_t>(n);
            continue;
        }
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
            return {done, n == 0 ? EIO : errno};
        }
        if (errno == EINTR) {
            continue;
        }
        // Some drivers (a pseudo-terminal among them) make room without waking the writer,
        // so the wait is cut into slices and the write tried again after each.
        const WaitResult waited = WaitReady(fd, POLLOUT, deadline.RemainingMs(kWriteRetryMs));
        if (waited.kind == Wait::kTimedOut && deadline.Passed()) {
            return {done, ETIMEDOUT};
        }
        if (waited.kind == Wait::kHungUp || waited.kind == Wait::kFailed) {
            return {done, waited.error};
        }
    }
    return {done, 0};
}

// Asks the driver not to hold received bytes back (USB adapters otherwise wait for a
// 16 ms timer before passing a short reply on). Drivers without the option are left alone.
void AskForLowLatency([[maybe_unused]] int fd) {
#ifdef __linux__
    serial_struct serial{};
    if (::ioctl(fd, TIOCGSERIAL, &serial) == 0) {
        serial.flags |= ASYNC_LOW_LATENCY;
        (void)::ioctl(fd, TIOCSSERIAL, &serial);
    }
#endif
}

void DropModemLines(int fd) {
    int lines = TIOCM_DTR | TIOCM_RTS;
    (void)::ioctl(fd, TIOCMBIC, &lines);  // a pseudo-terminal has no modem lines
}

}  // namespace

bool SpeedOfRate(uint32_t baudRate, speed_t& speed) {
    for (const RateEntry& entry : kRates) {
        if (entry.rate == baudRate) {
            speed = entry.speed;
            return true;
        }
    }
    return false;
}

void MakeLineSettings(termios& settings, int parity) {
    cfmakeraw(&settings);
    settings.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK);
    settings.c_cflag &= ~static_cast<tcflag_t>(CSIZE | CSTOPB | PARENB | PARODD);
#ifdef CRTSCTS
    settings.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
#endif
    settings.c_cflag |= CS8 | CLOCAL | CREAD;
    if (parity == 1) {
        settings.c_cflag |= PARENB | PARODD;
    } else if (parity == 3) {
        settings.c_cflag |= PARENB;
    }
    // With a minimum of one byte a non-blocking read of an empty queue says EAGAIN, so an
    // empty read (0) can only mean that the line hung up.
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
}

std::string DevicePath(const std::string& name) {
    return name.find('/') == std::string::npos ? "/dev/" + name : name;
}

std::string PermissionDeniedText(const std::string& path) {
    std::string denied = std::strerror(EACCES);
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return denied;
    }
    group entry{};
    group* found = nullptr;
    std::vector<char> names(16384);
    if (info.st_gid == 0 || ::getgrgid_r(info.st_gid, &entry, names.data(), names.size(), &found) != 0 ||
        found == nullptr) {
        return denied + ". Ask the administrator for access to " + path + ".";
    }
    const std::string name = found->gr_name;
    return denied + ". " + path + " belongs to the group " + name + ": join it with \"sudo usermod -aG " +
           name + " $USER\", then log out and in again.";
}

SerialPort::SerialPort() : native_(std::make_unique<Native>()) {}

SerialPort::~SerialPort() {
    SerialPort::Close();
}

void SerialPort::RecordError(uint32_t code) {
    RecordError(code, std::strerror(static_cast<int>(code)));
}

bool SerialPort::ApplyTimeoutMode() {
    return true;  // the time-outs live in Read and Write; the driver is not involved
}

bool SerialPort::OpenDevice(const std::string& name, uint32_t baudRate, int parity) {
    if (open_) {
        return false;
    }
    speed_t speed = B0;
    if (!SpeedOfRate(baudRate, speed)) {
        RecordError(EINVAL, "Unsupported baud rate " + std::to_string(baudRate));
        return false;
    }
    const std::string path = DevicePath(name);
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        if (error == EACCES) {
            RecordPermissionDenied(EACCES, PermissionDeniedText(path));
        } else {
            RecordError(static_cast<uint32_t>(error));
        }
        return false;
    }
    // Each step below that fails records its error and leaves through `fail`.
    auto fail = [&](uint32_t code, const std::string& text) {
        RecordError(code, text);
        (void)::ioctl(fd, TIOCNXCL);
        ::close(fd);
        return false;
    };
    if (::isatty(fd) == 0) {
        return fail(ENOTTY, path + " is not a serial device");
    }
    // TIOCEXCL turns away later openers except root; the lock turns away root as well.
    if (::ioctl(fd, TIOCEXCL) != 0) {
        return fail(errno, std::strerror(errno));
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno == EWOULDBLOCK ? EBUSY : errno;
        return fail(error, error == EBUSY ? path + " is in use by another program" : std::strerror(error));
    }
    termios settings{};
    if (::tcgetattr(fd, &settings) != 0) {
        return fail(errno, std::strerror(errno));
    }
    MakeLineSettings(settings, parity);
    if (::cfsetispeed(&settings, speed) != 0 || ::cfsetospeed(&settings, speed) != 0 ||
        ::tcsetattr(fd, TCSANOW, &settings) != 0) {
        return fail(errno, std::strerror(errno));
    }
    DropModemLines(fd);
    AskForLowLatency(fd);
    if (::tcflush(fd, TCIOFLUSH) != 0) {
        return fail(errno, std::strerror(errno));
    }
    native_->fd = fd;
    open_ = true;
    return true;
}

void SerialPort::CloseDevice() {
    if (native_->fd >= 0) {
        (void)::ioctl(native_->fd, TIOCNXCL);
        ::close(native_->fd);  // also releases the lock
        native_->fd = -1;
    }
    open_ = false;
}

bool SerialPort::ReadDevice(uint8_t* buffer, uint32_t capacity, uint32_t* received, int32_t waitMs) {
    if (received != nullptr) {
        *received = 0;
    }
    if (native_->fd < 0) {
        return false;
    }
    const Transfer read = Blocking() ? ReadUntilQuiet(native_->fd, buffer, capacity, waitMs)
                                     : ReadAtOnce(native_->fd, buffer, capacity);
    if (read.count == 0 && read.error != 0) {
        RecordError(static_cast<uint32_t>(read.error));
        return false;
    }
    if (received != nullptr) {
        *received = read.count;
    }
    return true;
}

bool SerialPort::WriteDevice(const uint8_t* buffer, uint32_t count, uint32_t* written) {
    if (written != nullptr) {
        *written = 0;
    }
    if (native_->fd < 0) {
        return false;
    }
    const Deadline deadline(Blocking() ? -1 : kWriteMsPerByte * count + kWriteMsConstant);
    const Transfer write = WriteWithin(native_->fd, buffer, count, deadline);
    if (written != nullptr) {
        *written = write.count;
    }
    if (write.error != 0) {
        RecordError(static_cast<uint32_t>(write.error));
        return false;
    }
    return true;
}

bool SerialPort::SetDeviceRate(uint32_t baudRate) {
    if (native_->fd < 0) {
        RecordError(EBADF, "The port is not open");
        return false;
    }
    speed_t speed = B0;
    if (!SpeedOfRate(baudRate, speed)) {
        RecordError(EINVAL, "Unsupported baud rate " + std::to_string(baudRate));
        return false;
    }
    termios settings{};
    if (::tcgetattr(native_->fd, &settings) != 0 || ::cfsetispeed(&settings, speed) != 0 ||
        ::cfsetospeed(&settings, speed) != 0 || ::tcsetattr(native_->fd, TCSANOW, &settings) != 0) {
        RecordError(static_cast<uint32_t>(errno));
        return false;
    }
    return true;
}

void SerialPort::PurgeDevice() {
    if (native_->fd >= 0) {
        (void)::tcflush(native_->fd, TCIOFLUSH);
    }
}
