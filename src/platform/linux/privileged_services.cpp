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
    if (!Own_.All()) Helper_.Start();
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

std::optional<std::string> TPrivilegedServices::CaptureUnavailableReason() {
    if (Own_.Capture) return std::nullopt;
    return HelperPackets_.UnavailableReason();
}

std::optional<std::string> TPrivilegedServices::OwnersUnavailableReason() {
    if (Own_.ReadAllOwners) return std::nullopt;
    return HelperOwners_.UnavailableReason();
}

std::optional<std::string> TPrivilegedServices::OwnersFailure() {
    if (Own_.ReadAllOwners) return std::nullopt;
    return HelperOwners_.Failure();
}

}  // namespace tarnwick
