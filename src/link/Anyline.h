#pragma once
// The line a program talks through, whatever its kind: opened by device name (the factory
// picks the kind), or handed a line that is already open (a replay). It stays one object for
// the program's whole run while the lines behind it come and go, so windows and commands keep
// a reference to it.
#include <memory>
#include <string>

#include "link/Line.h"

class AnyLine final : public Line {
  public:
    AnyLine() = default;
    ~AnyLine() override;

    // Closes whatever line is held and opens the one the name calls for.
    bool Open(const std::string& name, uint32_t baudRate, int parity = 0) override;
    // Closes whatever line is held and takes `line`, which is open, in its place.
    void Adopt(std::shared_ptr<Line> line);
    // Takes the outcome of an open made elsewhere (on another thread): the line when it
    // opened, else its reason as this line's error. Returns `opened`.
    bool TakeOpened(std::shared_ptr<Line> line, bool opened);
    void Close() override;
    bool IsOpen() const override;
    bool Read(uint8_t* buffer, uint32_t capacity, uint32_t* received, int32_t waitMs) override;
    bool Write(const uint8_t* buffer, uint32_t count, uint32_t* written = nullptr) override;
    bool SetBaudRate(uint32_t baudRate) override;
    void Purge() override;
    bool Reopen(uint32_t baudRate) override;
    bool CanChangeRate() const override;
    std::string RateRefusal() const override;
    bool CanWrite() const override;
    bool Ended() const override;
    bool IsRemote() const override;
    std::string Where() const override;
    uint32_t LineChanges() const override;

    // The line held, or null.
    const std::shared_ptr<Line>& Held() const { return line_; }

  private:
    void BlockingChanged() override;
    // Records the held line's error as this one's and passes the result on.
    bool Result(bool ok);
    void Release();

    std::shared_ptr<Line> line_;
    uint32_t retiredChanges_ = 0;  // the line changes of the lines held before
};
