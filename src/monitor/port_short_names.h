// The built-in table of well-known port names, shown instead of port numbers
// when port short names are switched on.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace tarnwick {

struct TPortShortName {
    int32_t Port;
    std::string_view Name;
};

// In the order the names are looked up in; no port occurs twice.
extern const std::array<TPortShortName, 60> PortShortNames;

// The decimal text of `port`, or its short name when `shortNames` is on and
// the table knows the port.
std::string GetPortName(int32_t port, bool shortNames);

}  // namespace tarnwick
