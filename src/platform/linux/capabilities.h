// This thread's Linux capabilities (capabilities(7)): whether it holds one,
// and for tarnwick-helper, keeping only those it needs and raising one only
// around the call that needs it.
//
// Capabilities belong to the thread (capset(2) changes only the caller's
// sets); the helper is single-threaded, so for it the thread is the process.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

#include "common/result.h"

namespace tarnwick {

// A set of capabilities as a mask, bit n for capability number n (the
// CAP_* numbers of <linux/capability.h>).
using TCapabilityMask = uint64_t;

// The capabilities the privileged work needs: closing connections
// (CAP_NET_ADMIN), capturing (CAP_NET_RAW) and reading other users'
// descriptor links in /proc, which takes both CAP_DAC_READ_SEARCH (to list
// /proc/<pid>/fd, mode 0500) and CAP_SYS_PTRACE (readlink of each link asks
// ptrace_may_access(), proc_fd_access_allowed() in fs/proc/base.c).
TCapabilityMask NetAdminCapability();
TCapabilityMask NetRawCapability();
TCapabilityMask ReadOwnersCapabilities();

// The names of the capabilities of `mask` (of the four above) as
// capabilities(7) spells them, joined by " and ": "CAP_NET_ADMIN".
std::string CapabilityNames(TCapabilityMask mask);

// Whether every capability of `mask` is in this thread's effective set.
bool HasEffectiveCapabilities(TCapabilityMask mask);

// This thread's permitted set; 0 when it cannot be read.
TCapabilityMask PermittedCapabilities();

// Reduces the permitted set to `keep` (what of it is permitted now), and
// empties the effective, inheritable and ambient sets, so nothing runs with a
// capability until TRaisedCapabilities raises it. Fails when the kernel
// refused.
TStatus KeepOnlyCapabilities(TCapabilityMask keep);

// Drops every capability but those of `keep` from the bounding set, so that
// nothing this process or a child of it becomes can gain them again. That
// takes CAP_SETPCAP, which is used here and then dropped from the bounding
// set too (KeepOnlyCapabilities without it then drops it from the permitted
// and effective sets). Without CAP_SETPCAP permitted it does nothing: a
// helper installed with fewer capabilities still serves.
void LimitBoundingSet(TCapabilityMask keep);

// Raises the capabilities of `mask` that are permitted into the effective
// set while it lives, and empties the effective set again when it ends.
class TRaisedCapabilities {
public:
    explicit TRaisedCapabilities(TCapabilityMask mask);
    ~TRaisedCapabilities();
    TRaisedCapabilities(const TRaisedCapabilities&) = delete;
    TRaisedCapabilities& operator=(const TRaisedCapabilities&) = delete;
};

}  // namespace tarnwick
