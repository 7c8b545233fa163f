// Where an address is on the Internet: the country and the network
// (autonomous system) that a location database gives for it.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "common/inet_address.h"
#include "common/result.h"

namespace tarnwick {

// What the database says of one address. Each field is empty (0) where it
// says nothing.
struct TLocation {
    std::string CountryCode;  // two letters, "DE"
    std::string CountryName;  // "Germany"
    uint32_t Asn = 0;         // the autonomous system's number, 3320
    std::string AsName;       // its name, "Deutsche Telekom AG"
    bool operator==(const TLocation&) const = default;
};

// The database a look-up reads.
struct TLocationDatabase {
    std::string Path;
    std::chrono::system_clock::time_point CreatedAt{};
};

class TLocationLookup {
public:
    virtual ~TLocationLookup() = default;

    // What the database says of `address` (of either family; an IPv4-mapped
    // IPv6 address is its IPv4 address); nullopt when no network of the
    // database holds it. Not for several threads at once.
    virtual std::optional<TLocation> Locate(const TInetAddress& address) = 0;

    virtual const TLocationDatabase& Database() const = 0;

    // Whether the file at the database's path is no longer the one this
    // look-up reads (an update put a new one there).
    virtual bool Replaced() const = 0;
};

// Opens the database. A missing or unreadable one is a failure that names the
// file and the system's reason.
using TLocationOpener = std::function<TResult<std::unique_ptr<TLocationLookup>>()>;

}  // namespace tarnwick
