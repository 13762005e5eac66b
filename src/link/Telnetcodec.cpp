#include "link/Telnetcodec.h"

#include <cstring>

namespace telnet {

namespace {

// Options this client takes on its own side, and lets the server take on its side.
bool LocalSupported(uint8_t option) {
    return option == kOptBinary || option == kOptSuppressGoAhead || option == kOptComPort;
}
bool RemoteSupported(uint8_t option) {
    return option == kOptBinary || option == kOptSuppressGoAhead || option == kOptEcho;
}

}  // namespace

void AppendEscaped(const uint8_t* data, size_t count, std::vector<uint8_t>& out) {
    for (size_t i = 0; i < count; ++i) {
        out.push_back(data[i]);
        if (data[i] == kIac) {
            out.push_back(kIac);
        }
    }
}

void AppendNegotiation(uint8_t verb, uint8_t option, std::vector<uint8_t>& out) {
    out.insert(out.end(), {kIac, verb, option});
}

void AppendComPort(uint8_t command, uint32_t value, int valueBytes, std::vector<uint8_t>& out) {
    out.insert(out.end(), {kIac, kSb, kOptComPort, command});
    for (int shift = 8 * (valueBytes - 1); shift >= 0; shift -= 8) {
        const uint8_t byte = static_cast<uint8_t>(value >> shift);
        AppendEscaped(&byte, 1, out);
    }
    out.insert(out.end(), {kIac, kSe});
}

void Decoder::Requested(uint8_t verb, uint8_t option) {
    (verb == kWill || verb == kWont ? local_ : remote_)[option].pending = true;
}

void Decoder::Decode(const uint8_t* bytes, size_t count, std::vector<uint8_t>& data) {
    for (size_t i = 0; i < count; ++i) {
        const uint8_t byte = bytes[i];
        switch (state_) {
            case State::kData: {
                // Plain data goes over in runs up to the next IAC.
                const auto* run = bytes + i;
                const auto* iac = static_cast<const uint8_t*>(std::memchr(run, kIac, count - i));
                const size_t length = iac == nullptr ? count - i : static_cast<size_t>(iac - run);
                data.insert(data.end(), run, run + length);
                i += length;
                if (iac != nullptr) {
                    state_ = State::kIac;
                }
                break;
            }
            case State::kIac:
                if (byte == kIac) {
                    data.push_back(kIac);
                    state_ = State::kData;
                } else {
                    Command(byte);
                }
                break;
            case State::kOption:
                Negotiate(verb_, byte);
                state_ = State::kData;
                break;
            case State::kSbOption:
                sbOption_ = byte;
                sbLength_ = 0;
                sbOverflow_ = false;
                state_ = State::kSbData;
                break;
            case State::kSbData:
                if (byte == kIac) {
                    state_ = State::kSbIac;
                } else if (sbLength_ < sb_.size()) {
                    sb_[sbLength_++] = byte;
                } else {
                    sbOverflow_ = true;
                }
                break;
            case State::kSbIac:
                if (byte == kIac) {
                    if (sbLength_ < sb_.size()) {
                        sb_[sbLength_++] = kIac;
                    } else {
                        sbOverflow_ = true;
                    }
                    state_ = State::kSbData;
                } else if (byte == kSe) {
                    EndSubnegotiation();
                    state_ = State::kData;
                } else {
                    // A malformed subnegotiation: it ends here, and the command is taken as one.
                    Command(byte);
                }
                break;
        }
    }
}

// The byte after IAC outside a subnegotiation.
void Decoder::Command(uint8_t byte) {
    if (byte >= kWill) {
        verb_ = byte;
        state_ = State::kOption;
    } else if (byte == kSb) {
        state_ = State::kSbOption;
    } else {
        state_ = State::kData;  // NOP, GA, SE alone, break and the like carry no data
    }
}

void Decoder::Negotiate(uint8_t verb, uint8_t option) {
    switch (verb) {
        case kDo:
            AnswerRequest(local_[option], LocalSupported(option), true, kWill, kWont, option);
            break;
        case kDont:
            AnswerRequest(local_[option], true, false, kWill, kWont, option);
            break;
        case kWill:
            AnswerRequest(remote_[option], RemoteSupported(option), true, kDo, kDont, option);
            break;
        default:  // kWont
            AnswerRequest(remote_[option], true, false, kDo, kDont, option);
            break;
    }
}

// Answers a request only when it changes the option's state and was not asked for by us,
// so that two sides never answer each other's answers for ever.
void Decoder::AnswerRequest(OptionState& state, bool supported, bool wanted, uint8_t yes, uint8_t no,
                            uint8_t option) {
    const bool wasPending = state.pending;
    state.pending = false;
    if (wanted && supported) {
        if (!state.enabled) {
            state.enabled = true;
            if (!wasPending) {
                Reply(yes, option);
            }
        }
        return;
    }
    if (state.enabled) {
        state.enabled = false;
        Reply(no, option);
    } else if (wanted && !state.refused) {
        Reply(no, option);
    }
    state.refused = true;
}

void Decoder::EndSubnegotiation() {
    if (sbOption_ != kOptComPort || sbOverflow_ || sbLength_ < 1 || sb_[0] <= kServerOffset) {
        return;  // another option's, too long to be ours, or a client command: ignored
    }
    const uint8_t command = static_cast<uint8_t>(sb_[0] - kServerOffset);
    uint32_t value = 0;
    for (size_t i = 1; i < sbLength_ && i <= 4; ++i) {
        value = (value << 8) | sb_[i];
    }
    if (command == kNotifyLineState) {
        lineState_ = static_cast<uint8_t>(value);
        return;
    }
    if (command == kNotifyModemState) {
        modemState_ = static_cast<uint8_t>(value);
        return;
    }
    if (answers_.size() >= kMaxAnswers) {
        answers_.pop_front();
    }
    answers_.push_back({command, value});
}

void Decoder::Reply(uint8_t verb, uint8_t option) {
    if (replies_.size() + 3 <= kMaxReplyBytes) {
        AppendNegotiation(verb, option, replies_);
    }
}

}  // namespace telnet
