#include "platform/linux/privileged_services.h"

#include "platform/linux/capabilities.h"

namespace tarnwick {

TOwnPrivileges TOwnPrivileges::OfThisProcess() {
    TOwnPrivileges own;
    own.CloseConnections = HasEffectiveCapabilities(NetAdminCapability());
    own.Capture = HasEffectiveCapabilities(NetRawCapability());
    own.ReadAllOwners = HasEffectiveCapabilities(ReadOwnersCapabilities());
    return own;
}

TPrivilegedServices::TPrivilegedServices(TOwnPrivileges own, THelperLocation helper)
    : Own_(own), Helper_(std::move(helper)) {}

void TPrivilegedServices::StartHelperIfUsed() {
    // A helper that cannot start says why when a service is asked of it.
    if (!Own_.All()) (void)Helper_.Start();
}

TConnectionKiller& TPrivilegedServices::Killer() {
    if (Own_.CloseConnections) return DirectKiller_;
    return HelperKiller_;
}

TPacketSource& TPrivilegedServices::Packets() {
    if (Own_.Capture) return DirectPackets_;
    return HelperPackets_;
}

TSocketOwnerSource& TPrivilegedServices::Owners() {
    if (Own_.ReadAllOwners) return DirectOwners_;
    return HelperOwners_;
}

TProcessList& TPrivilegedServices::Processes() {
    if (Own_.ReadAllOwners) return DirectProcesses_;
    return HelperProcesses_;
}

TStatus TPrivilegedServices::KillAvailable() {
    if (Own_.CloseConnections) return {};
    return HelperKiller_.Available();
}

TStatus TPrivilegedServices::OwnersAvailable() {
    if (Own_.ReadAllOwners) return {};
    return HelperOwners_.Available();
}

TStatus TPrivilegedServices::OwnersHealth() {
    if (Own_.ReadAllOwners) return {};
    return HelperOwners_.Health();
}

}  // namespace tarnwick
