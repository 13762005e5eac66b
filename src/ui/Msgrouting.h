#pragma once
// The table that routes each received binary frame to the window registered for its message
// id. The windows own it: the setup dialog registers for the configuration message, the
// hardware dialog for the hardware message, and the main window's receive loop dispatches.
//
// Used on the user-interface thread only. Windows register in their constructors and live
// until the program ends, so a handler never outlives its object.
#include <cstdint>
#include <functional>
#include <map>

// Called with the whole frame (from its first sync byte) and its length. The frame lies in
// the framer's buffer and is valid only during the call.
using MsgHandler = std::function<void(const uint8_t* frame, int32_t length)>;

struct MsgRecipient {
    void* owner = nullptr;  // the registering window; kept, not used by the dispatch
    MsgHandler handler;     // may be unset: frames of the id are then swallowed
    uint8_t flag = 0;       // always 0; kept, not used by the dispatch
};

using MsgRecipientList = std::map<uint8_t, MsgRecipient>;

// The program's one table.
MsgRecipientList& Recipients();

// Makes `recipient` the entry for `id`, replacing any earlier one.
void RegisterRecipient(uint8_t id, MsgRecipient recipient);
// The entry for `id`, or null; never creates an entry.
const MsgRecipient* FindRecipient(uint8_t id);
// Hands a completed frame (message id at offset 3) to its recipient. True when a handler
// ran; false for an unknown id, an unset handler or a frame too short to carry an id.
bool DispatchFrame(const uint8_t* frame, int32_t length);
