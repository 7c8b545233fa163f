#include "platform/linux/capabilities.h"

#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace tarnwick {

namespace {

// The three sets as the version 3 interface of capget/capset holds them: two
// 32-bit words each (_LINUX_CAPABILITY_U32S_3).
struct TCapabilitySets {
    TCapabilityMask Effective = 0;
    TCapabilityMask Permitted = 0;
    TCapabilityMask Inheritable = 0;
};

bool GetSets(TCapabilitySets& sets) {
    __user_cap_header_struct header{};
    header.version = _LINUX_CAPABILITY_VERSION_3;
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (syscall(SYS_capget, &header, data) != 0) return false;
    const auto join = [](uint32_t low, uint32_t high) { return TCapabilityMask{high} << 32 | low; };
    sets.Effective = join(data[0].effective, data[1].effective);
    sets.Permitted = join(data[0].permitted, data[1].permitted);
    sets.Inheritable = join(data[0].inheritable, data[1].inheritable);
    return true;
}

bool SetSets(const TCapabilitySets& sets) {
    __user_cap_header_struct header{};
    header.version = _LINUX_CAPABILITY_VERSION_3;
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    for (int word = 0; word < 2; ++word) {
        const int shift = 32 * word;
        data[word].effective = static_cast<uint32_t>(sets.Effective >> shift);
        data[word].permitted = static_cast<uint32_t>(sets.Permitted >> shift);
        data[word].inheritable = static_cast<uint32_t>(sets.Inheritable >> shift);
    }
    return syscall(SYS_capset, &header, data) == 0;
}

constexpr TCapabilityMask Bit(int capability) { return TCapabilityMask{1} << capability; }

}  // namespace

TCapabilityMask NetAdminCapability() { return Bit(CAP_NET_ADMIN); }
TCapabilityMask NetRawCapability() { return Bit(CAP_NET_RAW); }
TCapabilityMask ReadOwnersCapabilities() { return Bit(CAP_DAC_READ_SEARCH) | Bit(CAP_SYS_PTRACE); }

std::string CapabilityNames(TCapabilityMask mask) {
    static constexpr std::pair<int, const char*> kNames[] = {{CAP_DAC_READ_SEARCH, "CAP_DAC_READ_SEARCH"},
                                                             {CAP_NET_ADMIN, "CAP_NET_ADMIN"},
                                                             {CAP_NET_RAW, "CAP_NET_RAW"},
                                                             {CAP_SYS_PTRACE, "CAP_SYS_PTRACE"}};
    std::string names;
    for (const auto& [capability, name] : kNames) {
        if ((mask & Bit(capability)) == 0) continue;
        if (!names.empty()) names += " and ";
        names += name;
    }
    return names;
}

bool HasEffectiveCapabilities(TCapabilityMask mask) {
    TCapabilitySets sets;
    return GetSets(sets) && (sets.Effective & mask) == mask;
}

TCapabilityMask PermittedCapabilities() {
    TCapabilitySets sets;
    return GetSets(sets) ? sets.Permitted : 0;
}

TStatus KeepOnlyCapabilities(TCapabilityMask keep) {
    TCapabilitySets sets;
    if (!GetSets(sets)) return FailureFromErrno("capget");
    // Ambient capabilities would survive an exec; there is none to run, but
    // nothing should be held that the work does not need.
    prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
    sets.Permitted &= keep;
    sets.Effective = 0;
    sets.Inheritable = 0;
    if (!SetSets(sets)) return FailureFromErrno("capset");
    return {};
}

void LimitBoundingSet(TCapabilityMask keep) {
    TCapabilitySets sets;
    if (!GetSets(sets) || (sets.Permitted & Bit(CAP_SETPCAP)) == 0) return;
    const TRaisedCapabilities raised(Bit(CAP_SETPCAP));
    // The kernel may know more capabilities than this header: PR_CAPBSET_READ
    // fails (EINVAL) past the last one.
    constexpr int kMaskBits = 64;
    for (int capability = 0; capability < kMaskBits && prctl(PR_CAPBSET_READ, capability, 0, 0, 0) >= 0;
         ++capability) {
        if ((keep & Bit(capability)) == 0 && capability != CAP_SETPCAP)
            prctl(PR_CAPBSET_DROP, capability, 0, 0, 0);
    }
    // Last: the drops above need it.
    if ((keep & Bit(CAP_SETPCAP)) == 0) prctl(PR_CAPBSET_DROP, CAP_SETPCAP, 0, 0, 0);
}

TRaisedCapabilities::TRaisedCapabilities(TCapabilityMask mask) {
    TCapabilitySets sets;
    if (!GetSets(sets)) return;
    sets.Effective = mask & sets.Permitted;
    // A failure leaves the capabilities lowered: the call that needed them
    // then fails with the kernel's own reason (EPERM).
    SetSets(sets);
}

TRaisedCapabilities::~TRaisedCapabilities() {
    TCapabilitySets sets;
    if (!GetSets(sets)) return;
    sets.Effective = 0;
    SetSets(sets);
}

}  // namespace tarnwick
