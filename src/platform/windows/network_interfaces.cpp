#include "platform/network_interfaces.h"

#include <winsock2.h>
#include <ws2ipdef.h>
#include <iphlpapi.h>
#include <netioapi.h>

namespace tarnwick {

uint32_t InterfaceIndexByName(const std::string& name) { return ::if_nametoindex(name.c_str()); }

}  // namespace tarnwick
