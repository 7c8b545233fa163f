// The system journal, as a sink of structured entries: each entry a list of
// NAME=value fields. Names are upper-case letters, digits and '_' and do not
// start with '_' (those are the journal's own); values are any bytes.
#pragma once

#include <string>
#include <vector>

#include "common/result.h"

namespace tarnwick {

struct TJournalField {
    std::string Name;
    std::string Value;
    bool operator==(const TJournalField&) const = default;
};

class TEventJournal {
public:
    virtual ~TEventJournal() = default;

    // Whether an entry can be tried now; fails when no journal service runs on
    // this machine.
    virtual TStatus Available() = 0;

    // Sends one entry; fails with the system's errno when the journal did not
    // take it (for example when no journal service listens).
    virtual TStatus SendEntry(const std::vector<TJournalField>& fields) = 0;
};

}  // namespace tarnwick
