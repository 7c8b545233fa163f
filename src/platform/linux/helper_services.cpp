#include "platform/linux/helper_services.h"

#include <algorithm>
#include <cerrno>
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

// Why `helper` cannot do what `ability` stands for, or nullopt.
std::optional<std::string> ProblemOf(THelperClient& helper, uint32_t ability, const char* capabilities) {
    if (std::optional<std::string> problem = helper.Start()) return problem;
    if ((helper.Abilities() & ability) == 0)
        return "tarnwick-helper (" + helper.Program() + ") does not hold " + capabilities;
    return std::nullopt;
}

}  // namespace

TStatus THelperConnectionKiller::Available() {
    if (auto problem = ProblemOf(Helper_, kHelperCanKill, "the CAP_NET_ADMIN capability"))
        return TFailure{0, HelperMissingText(kKillNeed, *problem)};
    return {};
}

TStatus THelperConnectionKiller::KillTcp(const TTcpRow& row) {
    if (TStatus available = Available(); !available) return available;
    return Helper_.KillTcp(row);
}

TSocketOwners THelperSocketOwners::FindOwners(const std::vector<uint64_t>& inodes) {
    std::optional<std::string> problem = ProblemOf(Helper_, kHelperCanReadOwners, "the CAP_DAC_READ_SEARCH and CAP_SYS_PTRACE capabilities");
    std::vector<THelperOwner> owners;
    if (!problem) {
        std::vector<uint64_t> wanted;
        std::unique_copy(inodes.begin(), inodes.end(), std::back_inserter(wanted));
        std::erase(wanted, 0);
        // An empty request asks for every socket, as many more than a request
        // may name are asked for; none wanted needs no request.
        const bool tooMany = wanted.size() > kMaxOwnerInodes;
        if (tooMany) wanted.clear();
        if (tooMany || !wanted.empty()) problem = Helper_.SocketOwners(wanted, owners);
    }
    const std::optional<std::string> failure = problem ? Helper_.Failure() : std::nullopt;
    std::lock_guard lock(Mutex_);
    if (problem) {
        if (failure) {
            Failure_ = failure;
        } else {
            Unavailable_ = HelperMissingText(kOwnersNeed, *problem);
        }
        Names_.clear();
        return OwnView_.Find(inodes);
    }
    Unavailable_.reset();
    Names_.clear();
    std::vector<std::pair<uint64_t, uint32_t>> entries;
    entries.reserve(owners.size());
    for (THelperOwner& owner : owners) {
        entries.emplace_back(owner.Inode, owner.Pid);
        if (!owner.Name.empty()) Names_.emplace(owner.Pid, std::move(owner.Name));
    }
    return TSocketOwners::FromEntries(std::move(entries));
}

std::optional<std::string> THelperSocketOwners::UnavailableReason() {
    std::lock_guard lock(Mutex_);
    return Unavailable_;
}

std::optional<std::string> THelperSocketOwners::Failure() {
    std::lock_guard lock(Mutex_);
    return Failure_;
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

std::optional<std::string> THelperPacketSource::UnavailableReason() {
    if (auto problem = ProblemOf(Helper_, kHelperCanCapture, "the CAP_NET_RAW capability"))
        return HelperMissingText(kCaptureNeed, *problem);
    return std::nullopt;
}

TResult<TPacketCaptures> THelperPacketSource::OpenCaptures(const std::function<void(const TFailure&)>& onError) {
    if (auto reason = UnavailableReason()) return TFailure{0, *reason};
    TResult<std::vector<TCaptureInterface>> interfaces = ListCaptureInterfaces();
    if (!interfaces) return interfaces.Failure();

    TPacketCaptures captures;
    if (interfaces->empty()) {
        onError(TFailure{0, "no up interface with an IP address"});
        return captures;
    }
    std::vector<TFailure> errors;
    size_t permissionFailures = 0;
    std::string firstPermissionText;
    // As with libpcap's captures: a VLAN whose parent is captured is seen there.
    const TVlanParents vlanParents = ReadVlanParents();
    std::set<unsigned> captured;
    size_t tried = 0;
    for (const TCaptureInterface& where : *interfaces) {
        if (IsSeenOnParent(where.Index, captured, vlanParents)) continue;
        ++tried;
        TUniqueFd stream;
        int helperError = 0;
        std::optional<std::string> failure = Helper_.OpenCapture(where.Index, stream, helperError);
        if (!failure) {
            TResult<std::unique_ptr<TPacketCapture>> capture = OpenForwardedCapture(std::move(stream), where);
            if (capture) {
                captures.push_back(std::move(capture).Value());
                captured.insert(where.Index);
                continue;
            }
            failure = capture.Failure().Text();
        } else if ((helperError == EPERM || helperError == EACCES) && permissionFailures++ == 0) {
            firstPermissionText = *failure;
        }
        errors.push_back(TFailure{0, "cannot capture on " + where.Name + " (" + where.Address + "): " + *failure});
    }
    if (permissionFailures == tried) {
        return TFailure{0, "cannot capture packets: " + firstPermissionText + " (" +
                               HelperMissingText(kCaptureNeed, "tarnwick-helper (" + Helper_.Program() +
                                                                   ") may not capture") +
                               ")"};
    }
    for (const TFailure& error : errors) onError(error);
    return captures;
}

}  // namespace tarnwick
