#include "platform/linux/systemd_journal.h"

#include <sys/stat.h>
#include <sys/uio.h>
// Otherwise sd_journal_sendv adds CODE_FILE, CODE_LINE and CODE_FUNC of this
// file to every entry: where our sender sits says nothing of the event.
#define SD_JOURNAL_SUPPRESS_LOCATION
#include <systemd/sd-journal.h>

#include <cerrno>

namespace tarnwick {

namespace {

// Where the journal takes entries of its native protocol (systemd's "Native
// Journal Protocol" document; the path sd_journal_sendv writes to).
constexpr const char* kJournalSocket = "/run/systemd/journal/socket";

}  // namespace

TStatus TSystemdJournal::Available() {
    struct stat status {};
    if (stat(kJournalSocket, &status) != 0) return FailureFromErrno(kJournalSocket);
    if (!S_ISSOCK(status.st_mode)) return TFailure{0, std::string(kJournalSocket) + ": not a socket"};
    return {};
}

TStatus TSystemdJournal::SendEntry(const std::vector<TJournalField>& fields) {
    // sd_journal_sendv, the array form of sd_journal_send, takes a field list
    // whose length is known only here. It writes a value holding a line end
    // in the protocol's binary form, so any bytes arrive as they are.
    std::vector<std::string> texts;
    texts.reserve(fields.size());
    for (const TJournalField& field : fields) texts.push_back(field.Name + "=" + field.Value);
    std::vector<iovec> parts;
    parts.reserve(texts.size());
    for (std::string& text : texts) parts.push_back(iovec{text.data(), text.size()});
    const int result = sd_journal_sendv(parts.data(), static_cast<int>(parts.size()));
    if (result < 0) return TFailure{-result, "sending an entry to the journal"};
    return {};
}

}  // namespace tarnwick
