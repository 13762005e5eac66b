#include "ui/Msgrouting.h"

#include <utility>

#include "proto/Messages.h"

MsgRecipientList& Recipients() {
    static MsgRecipientList list;
    return list;
}

void RegisterRecipient(uint8_t id, MsgRecipient recipient) {
    Recipients()[id] = std::move(recipient);
}

const MsgRecipient* FindRecipient(uint8_t id) {
    const MsgRecipientList& list = Recipients();
    const auto found = list.find(id);
    return found == list.end() ? nullptr : &found->second;
}

bool DispatchFrame(const uint8_t* frame, int32_t length) {
    if (frame == nullptr || length <= frame::kIdOffset) {
        return false;
    }
    const MsgRecipient* recipient = FindRecipient(frame[frame::kIdOffset]);
    if (recipient == nullptr || !recipient->handler) {
        return false;
    }
    recipient->handler(frame, length);
    return true;
}
