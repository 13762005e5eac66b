#pragma once
// Which received lines the program shows and logs: NMEA sentences of the "$GP" and "$PN"
// talkers. The main window and the command-line monitor share the rule.
#include <cstdint>

inline bool IsShownSentence(const uint8_t* line, uint16_t length) {
    return length >= 3 && line[0] == '$' &&
           ((line[1] == 'G' && line[2] == 'P') || (line[1] == 'P' && line[2] == 'N'));
}
