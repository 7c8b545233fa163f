// tarnwick-helper's audit trail: every connection it closes for a program is
// written to the system journal with who asked (the user and process that
// made the socket pair) and the connection's ends, as programs that act for
// other users do, so that an administrator can tell who closed what.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/event_journal.h"
#include "platform/ip_tables.h"

namespace tarnwick {

// The process at the other end of the helper's socket pair, as the kernel
// recorded it when the pair was made (SO_PEERCRED): it cannot be forged by
// the peer, nor changed later.
struct THelperCaller {
    uint32_t Uid = 0;
    uint32_t Pid = 0;
};

// The caller of the socket pair `socket`; nullopt when it is not a socket.
std::optional<THelperCaller> ReadHelperCaller(int socket);

// The journal entry of closing `row` for `caller`: a message such as
// "tarnwick-helper: closed TCP 127.0.0.1:40000 -> 127.0.0.1:80 for uid 1000
// pid 1234", at notice priority in the authpriv facility, and the same as
// fields of their own.
std::vector<TJournalField> ClosedConnectionEntry(const THelperCaller& caller, const TTcpRow& row);

class THelperAudit {
public:
    THelperAudit(TEventJournal& journal, const THelperCaller& caller) : Journal_(journal), Caller_(caller) {}

    // Writes that `row` was closed. A journal that cannot take the entry (none
    // runs here) does not undo or hold up the close, which has happened.
    void RecordClosed(const TTcpRow& row);

private:
    TEventJournal& Journal_;
    THelperCaller Caller_;
};

}  // namespace tarnwick
