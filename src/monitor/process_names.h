// The process list taken once per refresh, for naming the owner of each row.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "platform/process_list.h"

namespace tarnwick {

// The process text of a socket whose owner is not known, as the log writes it.
inline constexpr std::string_view kUnknownProcessText = "?";

class TProcessSnapshot {
public:
    // Takes the list now; an unreadable list makes every name "?".
    static TProcessSnapshot Take(TProcessList& processes);
    explicit TProcessSnapshot(TResult<std::vector<TProcessEntry>> entries);

    // The executable file name of `pid`; "?" when the list could not be read,
    // the empty text when no running process has that id. When the list names
    // one id twice, the later entry wins.
    std::string_view GetProcessName(uint32_t pid) const;

private:
    bool Readable_ = false;
    std::unordered_map<uint32_t, std::string> NamesByPid_;
};

}  // namespace tarnwick
