#pragma once
// A line: whatever carries bytes to and from a receiver. The serial device (Serialport.h), a
// line reached over the network (Netline.h) and a recording played back (Replayline.h) are
// lines; Linefactory.h turns a device name into the right one, and AnyLine holds whichever is
// open.
//
// Two time-out modes, chosen by SetBlocking (true until changed; the choice survives Close and
// Open):
//  - blocking: Read waits for the first byte (at most waitMs, -1 without limit) and then
//    returns once the line has been quiet for about a millisecond or the buffer is full;
//  - non-blocking: Read returns at once with what has arrived, possibly nothing, and Write is
//    bounded by kWriteMsPerByte per byte plus kWriteMsConstant.
//
// Failures return false and record an error code and the system's text. A read whose wait
// ended without a byte fails with kReadTimedOutCode; a replay that has played its last byte
// fails every read with Ended() true.
#include <cstdint>
#include <functional>
#include <string>
#include <utility>

class Line {
  public:
    // Time limit of a non-blocking write: per byte asked for, plus a constant.
    static constexpr int64_t kWriteMsPerByte = 2000;
    static constexpr int64_t kWriteMsConstant = 2000;
    // Blocking reads end once no further byte has come for this long.
    static constexpr int kQuietGapMs = 1;

    Line() = default;
    virtual ~Line() = default;
    Line(const Line&) = delete;
    Line& operator=(const Line&) = delete;

    // Opens the line named `name` at the rate (parity: 1 odd, 3 even, else none). Refused
    // (false, nothing changes) while open. Every open counts as a line change.
    virtual bool Open(const std::string& name, uint32_t baudRate, int parity = 0) = 0;
    // Closes the line; harmless on a closed one.
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;

    // Reads at most `capacity` bytes; `received` (may be null) gets the count. The wait
    // applies in blocking mode only. ReadTimeUs() then tells when the bytes arrived.
    virtual bool Read(uint8_t* buffer, uint32_t capacity, uint32_t* received, int32_t waitMs) = 0;
    // Writes the whole buffer. False when the line fails or the write times out with bytes
    // left over; `written` (may be null) then says how many went out.
    virtual bool Write(const uint8_t* buffer, uint32_t count, uint32_t* written = nullptr) = 0;
    // Changes the rate of the open line in place; a line change. False on a closed line and
    // on one whose rate cannot change (CanChangeRate).
    virtual bool SetBaudRate(uint32_t baudRate) = 0;
    // Discards what the line holds in both directions.
    virtual void Purge() = 0;
    // Takes the line to another rate between two bootloader commands: the serial device is
    // closed and opened again (as the receiver's bootloader expects of a PC port); a line
    // that would lose its connection by closing changes the rate in place.
    virtual bool Reopen(uint32_t baudRate);

    // What the line can do. A line with a fixed rate refuses every rate change with
    // RateRefusal(), which says why and what to use instead.
    virtual bool CanChangeRate() const { return true; }
    virtual std::string RateRefusal() const { return {}; }
    // False for a line nobody listens at (a replay): writes go nowhere.
    virtual bool CanWrite() const { return true; }
    // True once a replay has played its last byte; every read then fails.
    virtual bool Ended() const { return false; }
    // True for a line reached over a network: its open may take seconds (a name to look up,
    // a host to reach) and can be abandoned from another thread (SetOpenCancel), and a
    // connection that is lost may come back when opened again.
    virtual bool IsRemote() const { return false; }
    // Asked at each of Open's waits, from the thread running Open; true abandons the open.
    virtual void SetOpenCancel(std::function<bool()> /*cancelled*/) {}
    // Where the line leads, for messages: the device, or a server's HOST:PORT.
    virtual std::string Where() const { return name_; }

    void SetBlocking(bool blocking);
    bool Blocking() const { return blocking_; }

    // The name the line was opened with, as the user gave it.
    const std::string& Name() const { return name_; }
    // When the bytes of the last read arrived, in microseconds since 1970 UTC: the moment of
    // the read on a live line, the recorded moment on a replay.
    int64_t ReadTimeUs() const { return readTimeUs_; }
    // Counts the opens and rate changes: a byte read before a change never belongs to the
    // same frame or line as one read after it.
    virtual uint32_t LineChanges() const { return lineChanges_; }

    uint32_t LastErrorCode() const { return lastErrorCode_; }
    const std::string& LastErrorText() const { return lastErrorText_; }
    // True when the last failure was the user's lack of permission for the device; its text
    // then names the device's group and how to join it.
    bool PermissionDenied() const { return permissionDenied_; }
    // True when the last error's text tells the user more than "Error opening device" does:
    // what to do about a permission, why an address did not answer.
    bool ErrorExplains() const { return permissionDenied_ || errorExplains_; }

  protected:
    // Called when the time-out mode changed (also while closed).
    virtual void BlockingChanged() {}

    void RecordError(uint32_t code, std::string text, bool explains = false);
    void RecordPermissionDenied(uint32_t code, std::string text);
    void CopyErrorFrom(const Line& other);
    void CountLineChange() { ++lineChanges_; }
    void StampRead(int64_t unixUs) { readTimeUs_ = unixUs; }
    // Stamps the bytes of a live read with the wall clock's now.
    void StampReadNow();
    void SetName(std::string name) { name_ = std::move(name); }

  private:
    bool blocking_ = true;
    uint32_t lineChanges_ = 0;
    int64_t readTimeUs_ = 0;
    std::string name_;
    uint32_t lastErrorCode_ = 0;
    std::string lastErrorText_;
    bool permissionDenied_ = false;
    bool errorExplains_ = false;
};

// The code of a read whose wait ended before a byte came: ETIMEDOUT, or Win32's ERROR_TIMEOUT.
uint32_t ReadTimedOutCode();
bool IsReadTimedOut(const Line& line);

// Microseconds since 1970 UTC of the wall clock.
int64_t WallClockUs();
