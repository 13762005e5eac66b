#pragma once
// The link state that every window shares, and the table that routes each received binary
// frame to the window registered for its message id.
//
// Everything here runs on the user-interface thread only. Windows register in their
// constructors and live until the program ends, so a handler never outlives its object.
#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "link/Serialport.h"
#include "proto/Crlfproto.h"
#include "proto/Diagproto.h"

// Called with the whole frame (from its first sync byte) and its length. The frame lies in
// the framer's buffer and is valid only during the call.
using MsgHandler = std::function<void(const uint8_t* frame, int32_t length)>;

struct MsgRecipient {
    void* owner = nullptr;  // the registering window; kept, not used by the dispatch
    MsgHandler handler;     // may be unset: frames of the id are then swallowed
    uint8_t flag = 0;       // always 0; kept, not used by the dispatch
};

using MsgRecipientList = std::map<uint8_t, MsgRecipient>;

// Members in order of construction. Port name and rate describe the port in use or last
// tried, open or not.
struct LinkState {
    SerialPort serialPort;
    DiagProto diagProto;
    CRLFProto crlfProto;
    uint8_t receiveBuffer[1024] = {};
    std::string portName;
    int32_t baudRate = 0;
    MsgRecipientList msgRecipientList;
    uint32_t framedLineChanges = 0;  // the port's LineChanges() when the framers last started
};

// The one link state of the program, constructed before main runs.
LinkState& Link();

// Resets both framers when the port was opened or its rate changed since they last started
// (`framedChanges`, updated): the half frame or half line of another port or rate would
// swallow the next reply.
void ResetFramersOnLineChange(const SerialPort& port, uint32_t& framedChanges, DiagProto& diag,
                              CRLFProto& crlf);
// The same for the link state's port and framers.
void ResetFramersOnLineChange(LinkState& link);

// Makes `recipient` the entry for `id`, replacing any earlier one.
void RegisterRecipient(uint8_t id, MsgRecipient recipient);
// The entry for `id`, or null; never creates an entry.
const MsgRecipient* FindRecipient(uint8_t id);
// Hands a completed frame (message id at offset 3) to its recipient. True when a handler
// ran; false for an unknown id, an unset handler or a frame too short to carry an id.
bool DispatchFrame(const uint8_t* frame, int32_t length);

// The main window installs the routine that shows the port state; link never includes it.
void SetPortStatusHook(std::function<void()> hook);
// Refreshes the port display through the hook, if one is installed.
void UpdatePortStatus();
