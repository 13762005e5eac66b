#pragma once
// The port side of a load from the command line, shared by the single load and the batch:
// reopening the port at the sequence's rates, asking for the version, and putting the port
// and the receiver's NMEA and baud settings back when the sequence ends. How the status and
// the progress are shown is left to the class that derives.
#include <string>
#include <utility>

#include "base/Clock.h"
#include "config/Configmsg.h"
#include "link/Line.h"
#include "loader/Loadsequence.h"
#include "loader/Portreopen.h"
#include "proto/Frame.h"
#include "proto/Messages.h"

class CliLoaderHost : public LoaderHost {
  public:
    CliLoaderHost(Line& port, std::string device, uint32_t baud, uint32_t nmeaMask)
        : port_(port),
          adapter_(port),
          device_(std::move(device)),
          baud_(baud),
          savedBaud_(baud),
          savedNmeaMask_(nmeaMask) {}

    LoaderPort& Port() override { return adapter_; }
    bool ReopenPort(uint32_t baud) override {
        if (!ReopenPortAt(port_, device_, static_cast<int32_t>(baud_), baud, Time())) {
            return false;
        }
        baud_ = baud;
        return true;
    }
    uint32_t CurrentBaud() const override { return baud_; }
    void RequestVersion() override {
        uint8_t frame[request::kFrameLength];
        port_.Write(frame, build_request_frame(msgid::kConfig, request::kStandardMode, 0, frame));
    }
    // The sequence clears the version when programming is done; the new one is read at the end.
    void UpdateVersionLabel(const ReceiverVersion& /*version*/) override {}
    bool DeviceGone() override { return !port_.IsOpen(); }

    // As the loading window ends a sequence: back to the normal rate, then to the rate the
    // port was opened at, and the receiver's NMEA and baud settings as they were.
    void EndSequence() override {
        if (baud_ == LoadSequence::kFastBaud) {
            ReopenPort(LoadSequence::kBootBaud);
        }
        if (savedBaud_ != LoadSequence::kBootBaud) {
            ReopenPort(savedBaud_);
        }
        uint8_t frame[config::kFrameLength];
        const uint16_t length =
            BuildConfigFrame(EncodeNmeaAndBaud(savedNmeaMask_, static_cast<int32_t>(savedBaud_)), frame);
        port_.Write(frame, length);
        RequestVersion();
    }

  protected:
    const std::string& Device() const { return device_; }

  private:
    Line& port_;
    LoaderPortAdapter<Line> adapter_;
    std::string device_;
    uint32_t baud_;
    uint32_t savedBaud_;
    uint32_t savedNmeaMask_;
};
