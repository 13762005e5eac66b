#pragma once
// A receiver's setup as a file: the settings the setup dialog applies, as a small JSON
// document that also names the receiver's software version and the time it was saved
// (docs/setup-file.md). A file with an unknown key, a value of the wrong type or out of
// range is refused whole, with the key named, so nothing half-read is ever sent.
#include <cstdint>
#include <optional>
#include <string>

#include <string_view>
#include <vector>
#include "proto/Messages.h"

#include "config/Configmsg.h"

// The sentences a receiver can send, by name and by their bit in the NMEA mask.
struct MaskName {
    const char* name;
    uint32_t bit;
};
inline constexpr MaskName kMaskNames[] = {
    {"GGA", config::kMaskGGA}, {"GSA", config::kMaskGSA}, {"ZDA", config::kMaskZDA},
    {"VTG", config::kMaskVTG}, {"RMC", config::kMaskRMC}, {"SNR", config::kMaskSNR},
};

// The mask's sentences named in that order, separated by commas; "none" for none.
std::string MaskText(uint32_t mask);

constexpr int kSetupFileVersion = 1;
constexpr const char* kSetupFileFormat = "lctrovi-setup";

struct SetupFile {
    ApplyControls controls;        // what the dialog's controls show after loading
    std::string receiverSoftware;  // "1.0SIM"; empty when the file gives none
    std::string saved;             // "2026-12-09T14:10:00Z"; empty when the file gives none
};

// The file's text for the controls, or nothing with the dialog's own message in `error` when
// Apply would refuse them (a height out of range, a frequency that is not a number), or with
// the reader's when the file could not be read back (a frequency outside the correction band).
std::optional<std::string> WriteSetupFile(const ApplyControls& controls, const std::string& receiverSoftware,
                                          int64_t unixSeconds, std::string& error);

struct SetupRead {
    std::optional<SetupFile> file;
    std::string error;        // "settings.height: 250 is out of range (1 to 200)"
    bool unreadable = false;  // nothing to read: the file cannot be read, is a folder or is empty
};
// Reads a setup file's text (a UTF-8 byte-order mark before it is skipped).
SetupRead ReadSetupFile(std::string_view text);
// Reads the file at `path` (at most kJsonMaxBytes are taken); when it cannot be read, `error`
// gives the system's reason ("No such file or directory") or "it is a folder".
SetupRead ReadSetupFileFrom(const std::string& path);
// What to tell the user of a file that was not taken, naming it as `name`: "Error reading setup
// file NAME: it is empty", "Setup file NAME refused: settings.height: 250 is out of range (1 to 200)".
std::string SetupReadMessage(const SetupRead& read, const std::string& name);

// The settings as "key" and value text pairs, in the file's order, for showing changes.
struct SetupField {
    std::string key;
    std::string value;
};
std::vector<SetupField> SetupFields(const ApplyControls& controls);
// "height: 60 -> 80" for each setting that differs; empty when none does.
std::vector<std::string> SetupChanges(const ApplyControls& before, const ApplyControls& after);

// "2026-12-09T14:10:00Z" of a calendar time.
std::string UtcTimeText(int64_t unixSeconds);
