// Closing an established TCP connection of the snapshot by its row.
#pragma once

#include <string>

#include "common/kept_texts.h"
#include "common/result.h"
#include "monitor/connection_row.h"
#include "monitor/connection_snapshot.h"
#include "platform/connection_killer.h"

namespace tarnwick {

enum class TKillOutcome {
    Killed,          // the system closed the connection
    NotTcp,          // the row is past the TCP rows: a UDP row, or none
    NotEstablished,  // a TCP row in another state than Established
    Refused,         // the system refused; Reason says why
    Gone,            // the connection the row showed is no longer in the tables
};

struct TKillResult {
    TKillOutcome Outcome = TKillOutcome::Killed;
    TFailure Failure;  // the system's refusal, when Refused

    // The message box text for the user of an outcome other than Killed.
    std::string Message() const;
};

// The words for a failed close: the system's message for its errno, followed
// in parentheses by what it means here when the killer says ("Operation not
// permitted (closing connections needs the CAP_NET_ADMIN capability)"); a
// failure without errno in its own words.
std::string KillFailureReason(const TFailure& failure);

// The log line (kind lkInfo) for a rule's kill that the system refused, so a
// rule that cannot act does not pass for one that did.
std::string KillRefusedLogText(const TTcpRow& row, const TFailure& failure);

// Closes TCP row `rowIndex` of `snapshot` when it is an established
// connection. The caller refreshes the connection list afterwards.
TKillResult KillConnection(const ConnectionSnapshot& snapshot, int rowIndex, TConnectionKiller& killer);

// Closes `row` when it is an established connection.
TKillResult KillConnection(const TTcpRow& row, TConnectionKiller& killer);

// Closes the connection a grid row shows, found anew in the current tables
// (the row may have been drawn before the tables last changed): NotTcp for a
// row that shows no TCP connection, Gone when it has closed meanwhile.
TKillResult KillShownConnection(const ConnectionSnapshot& snapshot, const TConnectionRow* shown,
                                TConnectionKiller& killer);

}  // namespace tarnwick
