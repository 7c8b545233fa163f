// The system journal, as a sink of structured entries: each entry a list of
// NAME=value fields. Names are upper-case letters, digits and '_' and do not
// start with '_' (those are the journal's own); values are any bytes.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tarnwick {

struct TJournalField {
    std::string Name;
    std::string Value;
    bool operator==(const TJournalField&) const = default;
};

class TEventJournal {
public:
    virtual ~TEventJournal() = default;

    // Why no entry can reach the journal now (no journal service on this
    // machine), or nullopt when one can be tried.
    virtual std::optional<std::string> UnavailableReason() = 0;

    // Sends one entry. Returns nullopt when the journal took it, otherwise the
    // system's reason (for example that no journal service listens).
    virtual std::optional<std::string> SendEntry(const std::vector<TJournalField>& fields) = 0;
};

}  // namespace tarnwick
