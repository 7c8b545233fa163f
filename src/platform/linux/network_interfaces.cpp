#include "platform/network_interfaces.h"

#include <net/if.h>

namespace tarnwick {

uint32_t InterfaceIndexByName(const std::string& name) { return ::if_nametoindex(name.c_str()); }

}  // namespace tarnwick
