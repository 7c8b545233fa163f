// The systemd journal through libsystemd's native protocol: one datagram per
// entry to the journal's socket (/run/systemd/journal/socket).
#pragma once

#include "platform/event_journal.h"

namespace tarnwick {

class TSystemdJournal final : public TEventJournal {
public:
    // libsystemd drops entries without a word when the journal's socket is
    // missing; asked first, a missing socket is said instead: the errno of
    // looking for it, the socket's path as the context.
    TStatus Available() override;
    TStatus SendEntry(const std::vector<TJournalField>& fields) override;
};

}  // namespace tarnwick
