// The services database (/etc/services): service names by port number.
//
// Each line reads `name port/protocol [aliases...] [# comment]`. Blank lines,
// comments and malformed lines (no '/', a port that is not a number from 0 to
// 65535, an empty protocol) are skipped. When several lines name the same
// port, the first one in the file wins, whatever its protocol.
//
// glibc's getservbyport opens and scans the file on every call; a refresh asks
// for tens of thousands of ports, so the file is parsed once into a table and
// parsed again only when it changes.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <unordered_map>

#include "platform/name_lookup.h"

namespace tarnwick {

// Port (host order) -> the first entry for it.
using TServicesByPort = std::unordered_map<uint16_t, TServiceEntry>;

// Parses the text of a services file. Never fails: what cannot be read is skipped.
TServicesByPort ParseServices(std::string_view text);

// The parsed file, kept up to date. Not thread-safe: one caller at a time.
class TServicesDatabase {
public:
    // `checkInterval` bounds how often Find looks whether the file changed
    // (one stat call); lookups in between only touch the table.
    explicit TServicesDatabase(std::string path = "/etc/services",
                               std::chrono::milliseconds checkInterval = std::chrono::seconds(1));

    // The first entry for `port`. Reads the file again first when it changed
    // (inode, size or modification time) and the check interval has passed.
    // While the file cannot be read there are no entries; it is tried again
    // at the next check.
    std::optional<TServiceEntry> Find(uint16_t port);

    // Looks at the file now, regardless of the check interval.
    void Refresh();

private:
    // What identifies one version of the file.
    struct TFileIdentity {
        dev_t Device = 0;
        ino_t Inode = 0;
        off_t Size = 0;
        int64_t ModifiedSec = 0;
        int64_t ModifiedNsec = 0;
        bool operator==(const TFileIdentity&) const = default;
    };

    void Load();

    std::string Path_;
    std::chrono::milliseconds CheckInterval_;
    std::chrono::steady_clock::time_point NextCheck_{};
    std::optional<TFileIdentity> Loaded_;  // nullopt: no readable version loaded
    TServicesByPort Entries_;
};

}  // namespace tarnwick
