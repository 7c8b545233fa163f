#include "monitor/process_names.h"

namespace tarnwick {

namespace {
// Executable names are held in 260-byte buffers by the process list.
constexpr size_t kMaxExeFileLength = 260;
}  // namespace

TProcessSnapshot TProcessSnapshot::Take(TProcessList& processes) {
    return TProcessSnapshot(processes.TakeSnapshot());
}

TProcessSnapshot::TProcessSnapshot(TResult<std::vector<TProcessEntry>> entries) {
    if (!entries) return;
    Readable_ = true;
    NamesByPid_.reserve(entries->size());
    for (TProcessEntry& entry : *entries) {
        if (entry.ExeFile.size() > kMaxExeFileLength) entry.ExeFile.resize(kMaxExeFileLength);
        NamesByPid_.insert_or_assign(entry.Pid, std::move(entry.ExeFile));
    }
}

std::string_view TProcessSnapshot::GetProcessName(uint32_t pid) const {
    if (!Readable_) return kUnknownProcessText;
    auto it = NamesByPid_.find(pid);
    return it == NamesByPid_.end() ? std::string_view() : std::string_view(it->second);
}

}  // namespace tarnwick
