// The network interfaces by name: the zone of a link-local address.
#pragma once

#include <cstdint>
#include <string>

namespace tarnwick {

// The index of the network interface named `name` ("eth0"), the zone of a
// link-local address; 0 when there is no interface of that name.
uint32_t InterfaceIndexByName(const std::string& name);

}  // namespace tarnwick
