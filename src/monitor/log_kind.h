// Kinds of event log entries; the kind selects an entry's glyph and colours.
// Here, beside the refresh that makes most entries; the log keeps and writes them.
#pragma once

#include <cstdint>

namespace tarnwick {

enum LogKind : int32_t {
    lkInfo = 0,        // state changes and the log's own notices
    lkRule = 1,        // actions fired by rules
    lkConnect = 2,     // new established connections
    lkDisconnect = 3,  // connections gone from the table
};

}  // namespace tarnwick
