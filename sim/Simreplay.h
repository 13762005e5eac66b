#pragma once
// A recording played onto a pseudo-terminal at its recorded pace, so that a customer's
// recording stands in for their receiver. The replay runs only while the device is open at
// the program's end: it starts when the program opens the port and waits while it is closed,
// so the program sees the recording from its start. What the program sends is read and
// dropped; nothing answers.
#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

class SimReplay {
  public:
    // plainBaud: the line rate at which a file that is not a recording is played as plain bytes.
    SimReplay(std::string path, uint32_t plainBaud);
    SimReplay(const SimReplay&) = delete;
    SimReplay& operator=(const SimReplay&) = delete;
    ~SimReplay();

    // Reads the file's header, creates the pseudo-terminal and starts playing. False with
    // LastError() set when the file or the pseudo-terminal cannot be used.
    bool Start();
    void Stop();
    const std::string& DevicePath() const { return devicePath_; }
    const std::string& LastError() const { return lastError_; }
    bool PlainBytes() const { return plain_; }
    uint32_t Baud() const { return baud_; }

    // True once every sound chunk has been written; Problem() then says where a damaged file
    // stopped (empty for a whole file).
    bool Finished() const { return finished_; }
    std::string Problem() const;

  private:
    void Run();
    // Waits up to waitUs for the stop signal, dropping what the program sends meanwhile.
    // Returns whether the program's end of the line is open.
    bool Wait(int64_t waitUs);
    bool WriteAll(const uint8_t* data, size_t size);

    std::string path_;
    uint32_t plainBaud_;
    uint32_t baud_ = 0;
    bool plain_ = false;
    std::string devicePath_;
    std::string lastError_;
    std::string problem_;
    int masterFd_ = -1;
    int wakePipe_[2] = {-1, -1};
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> finished_{false};
};
