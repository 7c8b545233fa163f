// Who owns a captured packet's connection: the program and process id that
// held its socket at the latest refresh, as "firefox-esr 4121".
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "capture/packet_parser.h"

namespace tarnwick {

// Names the owner of the connection of the packet with `fields`; nullopt
// when it is not known. Called for every packet recorded, on the thread that
// reads the captures.
using TPacketOwnerLookup = std::function<std::optional<std::string>(const TPacketFields& fields)>;

}  // namespace tarnwick
