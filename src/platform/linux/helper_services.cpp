#include "platform/linux/helper_services.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>

#include "platform/linux/forwarded_capture.h"
#include "platform/linux/pcap_packet_source.h"

namespace tarnwick {

namespace {

constexpr const char* kKillNeed = "closing connections needs the CAP_NET_ADMIN capability or tarnwick-helper";
constexpr const char* kCaptureNeed = "capturing packets needs the CAP_NET_RAW capability or tarnwick-helper";
constexpr const char* kOwnersNeed =
    "the owners of other users' sockets need the CAP_DAC_READ_SEARCH and CAP_SYS_PTRACE capabilities or "
    "tarnwick-helper";

// Whether `helper` can do what `ability` stands for: fails with why not.
TStatus Usable(THelperClient& helper, uint32_t ability, const char* capabilities) {
    if (TStatus started = helper.Start(); !started) return started;
    if ((helper.Abilities() & ability) == 0)
        return TFailure{0, "tarnwick-helper (" + helper.Program() + ") does not hold " + capabilities};
    return {};
}

}  // namespace

TStatus THelperConnectionKiller::Available() {
    if (TStatus usable = Usable(Helper_, kHelperCanKill, "the CAP_NET_ADMIN capability"); !usable)
        return TFailure{0, HelperMissingText(kKillNeed, usable.Failure().Text())};
    return {};
}

TStatus THelperConnectionKiller::KillTcp(const TTcpRow& row) {
    if (TStatus available = Available(); !available) return available;
    return Helper_.KillTcp(row);
}

TSocketOwners THelperSocketOwners::FindOwners(const std::vector<uint64_t>& inodes) {
    TResult<std::vector<THelperOwner>> owners = std::vector<THelperOwner>();
    if (TStatus usable =
            Usable(Helper_, kHelperCanReadOwners, "the CAP_DAC_READ_SEARCH and CAP_SYS_PTRACE capabilities");
        !usable) {
        owners = usable.Failure();
    } else {
        std::vector<uint64_t> wanted;
        std::unique_copy(inodes.begin(), inodes.end(), std::back_inserter(wanted));
        std::erase(wanted, 0);
        // An empty request asks for every socket, as many more than a request
        // may name are asked for; none wanted needs no request.
        const bool tooMany = wanted.size() > kMaxOwnerInodes;
        if (tooMany) wanted.clear();
        if (tooMany || !wanted.empty()) owners = Helper_.SocketOwners(wanted);
    }
    const TStatus health = owners ? TStatus() : Helper_.Health();
    std::lock_guard lock(Mutex_);
    if (!owners) {
        if (!health) {
            Failure_ = health.Failure();
        } else {
            Unavailable_ = TFailure{0, HelperMissingText(kOwnersNeed, owners.Failure().Text())};
        }
        Names_.clear();
        return OwnView_.Find(inodes);
    }
    Unavailable_.reset();
    Names_.clear();
    std::vector<std::pair<uint64_t, uint32_t>> entries;
    entries.reserve(owners->size());
    for (THelperOwner& owner : *owners) {
        entries.emplace_back(owner.Inode, owner.Pid);
        if (!owner.Name.empty()) Names_.emplace(owner.Pid, std::move(owner.Name));
    }
    return TSocketOwners::FromEntries(std::move(entries));
}

TStatus THelperSocketOwners::Available() {
    std::lock_guard lock(Mutex_);
    if (Unavailable_) return *Unavailable_;
    return {};
}

TStatus THelperSocketOwners::Health() {
    std::lock_guard lock(Mutex_);
    if (Failure_) return *Failure_;
    return {};
}

std::map<uint32_t, std::string> THelperSocketOwners::OwnerNames() {
    std::lock_guard lock(Mutex_);
    return Names_;
}

TResult<std::vector<TProcessEntry>> THelperProcessList::TakeSnapshot() {
    TResult<std::vector<TProcessEntry>> processes = Processes_.TakeSnapshot();
    if (!processes) return processes;
    const std::map<uint32_t, std::string> names = Owners_.OwnerNames();
    if (names.empty()) return processes;
    for (TProcessEntry& process : *processes) {
        if (const auto name = names.find(process.Pid); name != names.end()) process.ExeFile = name->second;
    }
    return processes;
}

TStatus THelperPacketSource::Available() {
    if (TStatus usable = Usable(Helper_, kHelperCanCapture, "the CAP_NET_RAW capability"); !usable)
        return TFailure{0, HelperMissingText(kCaptureNeed, usable.Failure().Text())};
    return {};
}

TResult<TPacketCaptures> THelperPacketSource::OpenCaptures(const std::function<void(const TFailure&)>& onError) {
    if (TStatus available = Available(); !available) return available.Failure();
    TResult<std::vector<TCaptureInterface>> interfaces = ListCaptureInterfaces();
    if (!interfaces) return interfaces.Failure();

    TPacketCaptures captures;
    if (interfaces->empty()) {
        onError(TFailure{0, "no up interface with an IP address"});
        return captures;
    }
    std::vector<TFailure> errors;
    size_t permissionFailures = 0;
    int firstPermissionError = 0;
    // As with libpcap's captures: a VLAN whose parent is captured is seen there.
    const TVlanParents vlanParents = ReadVlanParents();
    std::set<unsigned> captured;
    size_t tried = 0;
    for (const TCaptureInterface& where : *interfaces) {
        if (IsSeenOnParent(where.Index, captured, vlanParents)) continue;
        ++tried;
        const std::string failedOn = "cannot capture on " + where.Name + " (" + where.Address + ")";
        TResult<TUniqueFd> stream = Helper_.OpenCapture(where.Index);
        if (!stream) {
            const TFailure& failure = stream.Failure();
            // With errno, the helper's own failure: what the system said is
            // what the user can act on.
            if (failure.Errno == 0) {
                errors.push_back(TFailure{0, failedOn + ": " + failure.Context});
                continue;
            }
            if ((failure.Errno == EPERM || failure.Errno == EACCES) && permissionFailures++ == 0)
                firstPermissionError = failure.Errno;
            errors.push_back(TFailure{failure.Errno, failedOn});
            continue;
        }
        TResult<std::unique_ptr<TPacketCapture>> capture = OpenForwardedCapture(std::move(stream).Value(), where);
        if (!capture) {
            errors.push_back(TFailure{0, failedOn + ": " + capture.Failure().Text()});
            continue;
        }
        captures.push_back(std::move(capture).Value());
        captured.insert(where.Index);
    }
    if (permissionFailures == tried) {
        return TFailure{0, "cannot capture packets: " + std::string(std::strerror(firstPermissionError)) + " (" +
                               HelperMissingText(kCaptureNeed, "tarnwick-helper (" + Helper_.Program() +
                                                                   ") may not capture") +
                               ")"};
    }
    for (const TFailure& error : errors) onError(error);
    return captures;
}

}  // namespace tarnwick
