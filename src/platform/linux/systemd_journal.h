// The systemd journal through libsystemd's native protocol: one datagram per
// entry to the journal's socket (/run/systemd/journal/socket).
#pragma once

#include "platform/event_journal.h"

namespace tarnwick {

class TSystemdJournal final : public TEventJournal {
public:
    std::optional<std::string> SendEntry(const std::vector<TJournalField>& fields) override;
};

}  // namespace tarnwick
