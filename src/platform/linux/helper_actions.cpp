#include "platform/linux/helper_actions.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <string>

#include "platform/linux/capabilities.h"
#include "platform/linux/capture_forwarder.h"
#include "platform/linux/capture_ring.h"
#include "platform/linux/linux_connection_killer.h"
#include "platform/linux/linux_process_list.h"
#include "platform/linux/proc_dir.h"
#include "platform/linux/socket_owners.h"

namespace tarnwick {

uint32_t TLinuxHelperActions::Abilities() {
    const TCapabilityMask permitted = PermittedCapabilities();
    const auto holds = [permitted](TCapabilityMask mask) { return (permitted & mask) == mask; };
    uint32_t abilities = 0;
    if (holds(NetAdminCapability())) abilities |= kHelperCanKill;
    if (holds(NetRawCapability())) abilities |= kHelperCanCapture;
    if (holds(ReadOwnersCapabilities())) abilities |= kHelperCanReadOwners;
    return abilities;
}

TStatus TLinuxHelperActions::KillTcp(const TTcpRow& row) {
    TStatus killed;
    {
        const TRaisedCapabilities raised(NetAdminCapability());
        TLinuxConnectionKiller killer(true);
        killed = killer.KillTcp(row);
    }
    if (killed) Audit_.RecordClosed(row);
    return killed;
}

TResult<TUniqueFd> TLinuxHelperActions::OpenCapture(uint32_t interfaceIndex) {
    // Forwarders are reaped as they end (SIGCHLD ignored): a process id that
    // no longer answers is gone (one reused meanwhile only counts a while).
    std::erase_if(Forwarders_, [](pid_t pid) { return kill(pid, 0) != 0; });
    if (Forwarders_.size() >= kMaxCaptureForwarders) return TFailure{EBUSY, "running as many captures as it may"};
    TUniqueFd packetSocket;
    int error = 0;
    {
        const TRaisedCapabilities raised(NetRawCapability());
        packetSocket.Reset(socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        error = errno;  // before the capability is dropped again
    }
    if (!packetSocket.IsValid()) return TFailure{error, "opening the packet socket"};
    TResult<std::unique_ptr<TCaptureRing>> ring = TCaptureRing::Open(std::move(packetSocket), interfaceIndex);
    if (!ring) return ring.Failure();
    pid_t forwarder = -1;
    TResult<TUniqueFd> stream = StartCaptureForwarder(std::move(ring).Value(), forwarder);
    if (stream) Forwarders_.push_back(forwarder);
    return stream;
}

std::vector<THelperOwner> TLinuxHelperActions::SocketOwners(const std::vector<uint64_t>& inodes) {
    const TRaisedCapabilities raised(ReadOwnersCapabilities());
    // The program sends them sorted: a copy would be a second request's worth of memory.
    std::vector<uint64_t> sorted;
    if (!std::is_sorted(inodes.begin(), inodes.end())) {
        sorted = inodes;
        std::sort(sorted.begin(), sorted.end());
    }
    const std::vector<uint64_t>& wanted = sorted.empty() ? inodes : sorted;
    const TSocketOwners owners = wanted.empty() ? TSocketOwners::Scan() : Owners_.Find(wanted);

    std::vector<THelperOwner> found;
    std::map<uint32_t, std::string> names;
    const TDirPtr proc = OpenDirAt(AT_FDCWD, "/proc");
    for (const auto& [inode, pid] : owners.Entries()) {
        if (!wanted.empty() && !std::binary_search(wanted.begin(), wanted.end(), inode)) continue;
        auto name = names.find(pid);
        if (name == names.end()) {
            std::optional<std::string> read;
            if (proc) read = ReadProcessName(dirfd(proc.get()), std::to_string(pid).c_str());
            name = names.emplace(pid, read.value_or(std::string())).first;
        }
        found.push_back(THelperOwner{inode, pid, name->second});
    }
    return found;
}

}  // namespace tarnwick
