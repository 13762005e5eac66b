#pragma once
// A real pseudo-terminal pair for the serial tests: the code under test opens the slave by
// its path, the test plays the far end through the master.
#include <cstdint>
#include <string>
#include <vector>

class PtyPair {
  public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    const std::string& SlavePath() const { return slavePath_; }
    int Master() const { return master_; }
    // The test's own descriptor of the slave (kept open so the pair outlives a Close).
    int Slave() const { return slave_; }

    // Writes all bytes into the master, as the far end sending them.
    void SendFromFarEnd(const std::vector<uint8_t>& bytes) const;
    // Reads from the master what the far end has received, waiting up to `waitMs` for
    // `count` bytes.
    std::vector<uint8_t> ReceiveAtFarEnd(size_t count, int waitMs) const;
    // Waits up to `waitMs` until the slave side holds `count` unread bytes.
    bool WaitForPendingInput(int count, int waitMs) const;
    // Closes the master: to the slave side the device has gone away.
    void CloseFarEnd();

  private:
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
};
