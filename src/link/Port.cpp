#include "link/Port.h"

#include <utility>

namespace {

constexpr int32_t kIdOffset = 3;

std::function<void()>& PortStatusHook() {
    static std::function<void()> hook;
    return hook;
}

// Constructs the link state during static initialisation, before main, as the windows
// created by main expect it to exist.
[[maybe_unused]] const LinkState& linkAtStart = Link();

}  // namespace

LinkState& Link() {
    static LinkState state;
    return state;
}

void ResetFramersOnLineChange(const SerialPort& port, uint32_t& framedChanges, DiagProto& diag,
                              CRLFProto& crlf) {
    if (port.LineChanges() != framedChanges) {
        framedChanges = port.LineChanges();
        diag.Reset();
        crlf.Reset();
    }
}

void ResetFramersOnLineChange(LinkState& link) {
    ResetFramersOnLineChange(link.serialPort, link.framedLineChanges, link.diagProto, link.crlfProto);
}

void RegisterRecipient(uint8_t id, MsgRecipient recipient) {
    Link().msgRecipientList[id] = std::move(recipient);
}

const MsgRecipient* FindRecipient(uint8_t id) {
    const MsgRecipientList& list = Link().msgRecipientList;
    const auto found = list.find(id);
    return found == list.end() ? nullptr : &found->second;
}

bool DispatchFrame(const uint8_t* frame, int32_t length) {
    if (frame == nullptr || length <= kIdOffset) {
        return false;
    }
    const MsgRecipient* recipient = FindRecipient(frame[kIdOffset]);
    if (recipient == nullptr || !recipient->handler) {
        return false;
    }
    recipient->handler(frame, length);
    return true;
}

void SetPortStatusHook(std::function<void()> hook) {
    PortStatusHook() = std::move(hook);
}

void UpdatePortStatus() {
    if (PortStatusHook()) {
        PortStatusHook()();
    }
}
