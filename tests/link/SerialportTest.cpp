// SerialPort against real pseudo-terminals: the port opens the slave by its path, the test
// plays the receiver at the master. Times are only ever bounded from above, generously.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <functional>
#include <thread>

#include "link/Serialport.h"
#include "link/Serialport_posix.h"
#include "support/PtyPair.h"
#include "support/SerialReads.h"

namespace {

using testsupport::Stopwatch;

using Bytes = std::vector<uint8_t>;

// Runs `action` on another thread after `delayMs`, joined when this object goes.
class Later {
  public:
    Later(int delayMs, std::function<void()> action)
        : thread_([delayMs, action = std::move(action)] {
              std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
              action();
          }) {}
    ~Later() { thread_.join(); }
    Later(const Later&) = delete;
    Later& operator=(const Later&) = delete;

  private:
    std::thread thread_;
};

class SerialPortPty : public ::testing::Test {
  protected:
    void OpenPort(uint32_t rate = 19200) {
        ASSERT_TRUE(port.Open(pty.SlavePath(), rate)) << port.LastErrorText();
    }

    termios FarEndSettings() const {
        termios settings{};
        tcgetattr(pty.Master(), &settings);
        return settings;
    }

    speed_t FarEndSpeed() const {
        const termios settings = FarEndSettings();
        return cfgetospeed(&settings);
    }

    Bytes ReadBytes(uint32_t capacity, int32_t waitMs, bool* ok = nullptr) {
        return testsupport::ReadBytes(port, capacity, waitMs, ok);
    }

    PtyPair pty;
    SerialPort port;
};

const Bytes kHello = {'h', 'e', 'l', 'l', 'o'};

TEST_F(SerialPortPty, OpensClosesAndReopens) {
    EXPECT_FALSE(port.IsOpen());
    OpenPort();
    EXPECT_TRUE(port.IsOpen());
    port.Close();
    EXPECT_FALSE(port.IsOpen());
    port.Close();  // harmless when closed
    EXPECT_FALSE(port.IsOpen());
    OpenPort();
    EXPECT_TRUE(port.IsOpen());
}

TEST_F(SerialPortPty, OpenWhileOpenIsRefusedAndLeavesTheDeviceAlone) {
    OpenPort(9600);
    PtyPair other;
    EXPECT_FALSE(port.Open(other.SlavePath(), 19200));
    EXPECT_TRUE(port.IsOpen());
    EXPECT_EQ(FarEndSpeed(), B9600);
    ASSERT_TRUE(port.Write(kHello.data(), kHello.size()));
    EXPECT_EQ(pty.ReceiveAtFarEnd(kHello.size(), 5000), kHello);
}

TEST_F(SerialPortPty, SecondOpenerIsRefusedUntilTheFirstCloses) {
    // These tests run as root, for whom TIOCEXCL alone does not keep a second opener out.
    OpenPort();
    SerialPort second;
    EXPECT_FALSE(second.Open(pty.SlavePath(), 19200));
    EXPECT_FALSE(second.IsOpen());
    EXPECT_EQ(second.LastErrorCode(), static_cast<uint32_t>(EBUSY));
    EXPECT_FALSE(second.LastErrorText().empty());
    port.Close();
    EXPECT_TRUE(second.Open(pty.SlavePath(), 19200)) << second.LastErrorText();
}

TEST_F(SerialPortPty, OtherUsersAreKeptOutByExclusiveUse) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to switch to another user";
    }
    OpenPort();
    ASSERT_EQ(chmod(pty.SlavePath().c_str(), 0666), 0);  // only exclusive use stands in the way
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (setuid(65534) != 0) {
            _exit(2);
        }
        const int fd = open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        _exit(fd < 0 && errno == EBUSY ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: another user opened the port; 2: setuid failed";
}

TEST(SerialPortOpen, RefusesWhatIsNotASerialDeviceWithAnErrorText) {
    char fileName[] = "/tmp/lct-serialport-XXXXXX";
    const int fd = mkstemp(fileName);
    ASSERT_GE(fd, 0);
    close(fd);
    struct Case {
        const char* name;
        int error;
    };
    const Case cases[] = {
        {"/dev/lct-no-such-device", ENOENT},
        {"lct-no-such-device", ENOENT},  // a bare name is looked for in /dev
        {fileName, ENOTTY},
        {"/dev/null", ENOTTY},
    };
    PtyPair pty;
    for (const Case& c : cases) {
        SerialPort port;
        EXPECT_FALSE(port.Open(c.name, 19200)) << c.name;
        EXPECT_FALSE(port.IsOpen()) << c.name;
        EXPECT_EQ(port.LastErrorCode(), static_cast<uint32_t>(c.error)) << c.name;
        EXPECT_FALSE(port.LastErrorText().empty()) << c.name;
        EXPECT_TRUE(port.Open(pty.SlavePath(), 19200)) << "after " << c.name << ": " << port.LastErrorText();
    }
    unlink(fileName);
}

TEST_F(SerialPortPty, RefusesRatesItDoesNotSupport) {
    for (const uint32_t rate : {0U, 300U, 12345U, 230400U}) {
        EXPECT_FALSE(port.Open(pty.SlavePath(), rate)) << rate;
        EXPECT_EQ(port.LastErrorCode(), static_cast<uint32_t>(EINVAL)) << rate;
        EXPECT_FALSE(port.IsOpen());
    }
}

TEST_F(SerialPortPty, FarEndSeesTheRateAndRawEightBitLine) {
    const std::pair<uint32_t, speed_t> rates[] = {{4800, B4800},   {9600, B9600},   {19200, B19200},
                                                  {38400, B38400}, {57600, B57600}, {115200, B115200}};
    for (const auto& [rate, speed] : rates) {
        OpenPort(rate);
        const termios settings = FarEndSettings();
        EXPECT_EQ(cfgetospeed(&settings), speed) << rate;
        EXPECT_EQ(cfgetispeed(&settings), speed) << rate;
        EXPECT_EQ(settings.c_cflag & CSIZE, static_cast<tcflag_t>(CS8)) << rate;
        EXPECT_EQ(settings.c_cflag & (CSTOPB | CRTSCTS), 0U) << rate;
        EXPECT_EQ(settings.c_iflag & (IXON | IXOFF), 0U) << rate;
        EXPECT_EQ(settings.c_lflag & (ICANON | ECHO), 0U) << rate;
        port.Close();
    }
}

TEST_F(SerialPortPty, SetBaudRateChangesOnlyTheRateOfAnOpenPort) {
    EXPECT_FALSE(port.SetBaudRate(57600));
    EXPECT_NE(port.LastErrorCode(), 0U);
    EXPECT_FALSE(port.LastErrorText().empty());

    OpenPort(19200);
    ASSERT_TRUE(port.SetBaudRate(57600)) << port.LastErrorText();
    EXPECT_EQ(FarEndSpeed(), B57600);
    EXPECT_EQ(FarEndSettings().c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_FALSE(port.SetBaudRate(1234));
    EXPECT_EQ(FarEndSpeed(), B57600);
    ASSERT_TRUE(port.Write(kHello.data(), kHello.size()));
    EXPECT_EQ(pty.ReceiveAtFarEnd(kHello.size(), 5000), kHello);
}

TEST(SerialLineSettings, ParitySelectorAndNoFlowControl) {
    struct Case {
        int selector;
        tcflag_t parity;
    };
    const Case cases[] = {{0, 0}, {1, PARENB | PARODD}, {2, 0}, {3, PARENB}, {5, 0}, {-1, 0}};
    for (const Case& c : cases) {
        termios settings{};
        // Start from a line with every option on: whatever was set before must not survive.
        settings.c_iflag = ~tcflag_t{0};
        settings.c_oflag = ~tcflag_t{0};
        settings.c_cflag = ~tcflag_t{0};
        settings.c_lflag = ~tcflag_t{0};
        MakeLineSettings(settings, c.selector);
        EXPECT_EQ(settings.c_cflag & (PARENB | PARODD), c.parity) << c.selector;
        EXPECT_EQ(settings.c_cflag & CSIZE, static_cast<tcflag_t>(CS8)) << c.selector;
        EXPECT_EQ(settings.c_cflag & (CSTOPB | CRTSCTS), 0U) << c.selector;
        EXPECT_EQ(settings.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD)) << c.selector;
        EXPECT_EQ(settings.c_iflag & (IXON | IXOFF | IXANY | ICRNL | ISTRIP), 0U) << c.selector;
        EXPECT_EQ(settings.c_oflag & OPOST, 0U) << c.selector;
        EXPECT_EQ(settings.c_lflag & (ICANON | ECHO | ISIG), 0U) << c.selector;
        EXPECT_EQ(settings.c_cc[VMIN], 1) << c.selector;  // an empty read means hang-up
        EXPECT_EQ(settings.c_cc[VTIME], 0) << c.selector;
    }
}

TEST(SerialLineSettings, BareNamesLiveInDev) {
    EXPECT_EQ(DevicePath("ttyUSB0"), "/dev/ttyUSB0");
    EXPECT_EQ(DevicePath("/dev/pts/7"), "/dev/pts/7");
    EXPECT_EQ(DevicePath("./dev/ttyX"), "./dev/ttyX");
}

TEST_F(SerialPortPty, NonBlockingReadReturnsAtOnceWithWhatIsThere) {
    port.SetBlocking(false);
    OpenPort();
    bool ok = false;
    Stopwatch watch;
    EXPECT_TRUE(ReadBytes(1024, -1, &ok).empty());  // the wait does not apply
    EXPECT_TRUE(ok);
    EXPECT_LT(watch.ElapsedMs(), 2000);

    pty.SendFromFarEnd(kHello);
    ASSERT_TRUE(pty.WaitForPendingInput(static_cast<int>(kHello.size()), 5000));
    EXPECT_EQ(ReadBytes(1024, -1), kHello);
}

TEST_F(SerialPortPty, BlockingReadReturnsOnceTheLineIsQuietWithoutFillingTheBuffer) {
    OpenPort();
    pty.SendFromFarEnd(kHello);
    ASSERT_TRUE(pty.WaitForPendingInput(static_cast<int>(kHello.size()), 5000));
    Stopwatch watch;
    bool ok = false;
    EXPECT_EQ(ReadBytes(1024, 20000, &ok), kHello);
    EXPECT_TRUE(ok);
    EXPECT_LT(watch.ElapsedMs(), 10000);
}

TEST_F(SerialPortPty, BlockingReadWaitsForBytesThatArriveDuringTheWait) {
    OpenPort();
    Stopwatch watch;
    Bytes got;
    {
        Later send(50, [this] { pty.SendFromFarEnd(kHello); });
        got = ReadBytes(1024, 20000);
    }
    // The bytes may come in one piece or several; the read ends with the first piece.
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got, Bytes(kHello.begin(), kHello.begin() + static_cast<std::ptrdiff_t>(got.size())));
    EXPECT_LT(watch.ElapsedMs(), 10000);
}

TEST_F(SerialPortPty, BlockingReadWithNothingArrivingFailsWhenTheWaitEnds) {
    OpenPort();
    Stopwatch watch;
    bool ok = true;
    EXPECT_TRUE(ReadBytes(1024, 50, &ok).empty());
    EXPECT_FALSE(ok);
    EXPECT_EQ(port.LastErrorCode(), static_cast<uint32_t>(ETIMEDOUT));
    EXPECT_LT(watch.ElapsedMs(), 5000);
}

TEST_F(SerialPortPty, ReadStopsAtTheCapacityAndKeepsTheRest) {
    OpenPort();
    const Bytes ten = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    pty.SendFromFarEnd(ten);
    ASSERT_TRUE(pty.WaitForPendingInput(10, 5000));
    EXPECT_EQ(ReadBytes(4, 5000), Bytes({0, 1, 2, 3}));
    port.SetBlocking(false);
    EXPECT_EQ(ReadBytes(4, 0), Bytes({4, 5, 6, 7}));
    EXPECT_EQ(ReadBytes(4, 0), Bytes({8, 9}));
}

TEST_F(SerialPortPty, BlockingFlagSurvivesCloseAndOpen) {
    port.SetBlocking(false);  // remembered while closed
    for (int round = 0; round < 2; ++round) {
        OpenPort();
        bool ok = false;
        // Blocking, this would wait and fail; non-blocking it succeeds with nothing.
        EXPECT_TRUE(ReadBytes(16, 20000, &ok).empty());
        EXPECT_TRUE(ok) << "round " << round;
        port.Close();
    }
}

TEST_F(SerialPortPty, PurgeDiscardsPendingInput) {
    OpenPort();
    pty.SendFromFarEnd(kHello);
    ASSERT_TRUE(pty.WaitForPendingInput(static_cast<int>(kHello.size()), 5000));
    port.Purge();
    port.SetBlocking(false);
    bool ok = false;
    EXPECT_TRUE(ReadBytes(1024, 0, &ok).empty());
    EXPECT_TRUE(ok);
    pty.SendFromFarEnd({42});  // the line still works after the purge
    ASSERT_TRUE(pty.WaitForPendingInput(1, 5000));
    EXPECT_EQ(ReadBytes(1024, 0), Bytes({42}));
}

TEST_F(SerialPortPty, OpenDiscardsWhatCameBefore) {
    pty.SendFromFarEnd(kHello);
    ASSERT_TRUE(pty.WaitForPendingInput(static_cast<int>(kHello.size()), 5000));
    port.SetBlocking(false);
    OpenPort();
    EXPECT_TRUE(ReadBytes(1024, 0).empty());
}

TEST_F(SerialPortPty, ReadAndWriteOnAClosedPortFail) {
    uint32_t count = 77;
    uint8_t buffer[8] = {};
    EXPECT_FALSE(port.Read(buffer, sizeof(buffer), &count, 0));
    EXPECT_EQ(count, 0U);
    count = 77;
    EXPECT_FALSE(port.Write(kHello.data(), kHello.size(), &count));
    EXPECT_EQ(count, 0U);
    EXPECT_FALSE(port.Write(kHello.data(), kHello.size()));
}

TEST_F(SerialPortPty, WriteDeliversEverythingWithOrWithoutTheCount) {
    for (const bool blocking : {true, false}) {
        port.SetBlocking(blocking);
        OpenPort();
        uint32_t count = 0;
        EXPECT_TRUE(port.Write(kHello.data(), kHello.size(), &count));
        EXPECT_EQ(count, kHello.size());
        EXPECT_TRUE(port.Write(kHello.data(), kHello.size()));
        Bytes twice = kHello;
        twice.insert(twice.end(), kHello.begin(), kHello.end());
        EXPECT_EQ(pty.ReceiveAtFarEnd(twice.size(), 5000), twice) << "blocking " << blocking;
        port.Close();
    }
}

TEST_F(SerialPortPty, WriteLargerThanTheDriverQueueWaitsForRoom) {
    Bytes image(200000);
    for (size_t i = 0; i < image.size(); ++i) {
        image[i] = static_cast<uint8_t>(i * 7 + i / 256);
    }
    for (const bool blocking : {true, false}) {
        port.SetBlocking(blocking);
        OpenPort();
        Bytes received;
        std::thread farEnd([&] { received = pty.ReceiveAtFarEnd(image.size(), 60000); });
        uint32_t count = 0;
        EXPECT_TRUE(port.Write(image.data(), static_cast<uint32_t>(image.size()), &count))
            << port.LastErrorText();
        EXPECT_EQ(count, image.size());
        farEnd.join();
        EXPECT_TRUE(received == image) << "blocking " << blocking << ", received " << received.size();
        port.Close();
    }
}

TEST_F(SerialPortPty, NonBlockingWriteThatCannotGoOutTimesOutAsAFailure) {
    port.SetBlocking(false);
    OpenPort();
    // Fill the queue towards the far end, which never reads, through the test's own slave.
    ASSERT_EQ(fcntl(pty.Slave(), F_SETFL, fcntl(pty.Slave(), F_GETFL) | O_NONBLOCK), 0);
    // The kernel moves queued bytes on in the background, so fill until it stays full.
    const Bytes block(4096, 0x55);
    for (int attempt = 0; attempt < 1000; ++attempt) {
        if (write(pty.Slave(), block.data(), block.size()) > 0) {
            continue;
        }
        ASSERT_EQ(errno, EAGAIN);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (write(pty.Slave(), block.data(), 1) < 0 && errno == EAGAIN) {
            break;
        }
    }
    uint32_t count = 77;
    Stopwatch watch;
    EXPECT_FALSE(port.Write(kHello.data(), 1, &count));  // limit: 2000 ms per byte + 2000 ms
    EXPECT_EQ(count, 0U);
    EXPECT_EQ(port.LastErrorCode(), static_cast<uint32_t>(ETIMEDOUT));
    EXPECT_LT(watch.ElapsedMs(), 60000);
}

TEST_F(SerialPortPty, FarEndVanishingMidReadFailsAtOnceAndThePortCanBeReopened) {
    OpenPort();
    Stopwatch watch;
    bool ok = true;
    {
        Later vanish(50, [this] { pty.CloseFarEnd(); });
        EXPECT_TRUE(ReadBytes(1024, 30000, &ok).empty());
    }
    EXPECT_FALSE(ok);
    EXPECT_EQ(port.LastErrorCode(), static_cast<uint32_t>(EIO));
    EXPECT_FALSE(port.LastErrorText().empty());
    EXPECT_LT(watch.ElapsedMs(), 15000);

    // Every later call fails at once too, in either mode, instead of waiting or spinning.
    EXPECT_FALSE(port.Write(kHello.data(), kHello.size()));
    for (const bool blocking : {false, true}) {
        port.SetBlocking(blocking);
        ok = true;
        EXPECT_TRUE(ReadBytes(1024, 20000, &ok).empty());
        EXPECT_FALSE(ok) << "blocking " << blocking;
    }
    EXPECT_LT(watch.ElapsedMs(), 15000);

    port.Close();
    EXPECT_FALSE(port.IsOpen());
    PtyPair replacement;
    ASSERT_TRUE(port.Open(replacement.SlavePath(), 19200)) << port.LastErrorText();
    replacement.SendFromFarEnd(kHello);
    EXPECT_EQ(ReadBytes(1024, 20000), kHello);
}

}  // namespace
