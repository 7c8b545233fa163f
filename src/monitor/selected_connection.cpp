#include "monitor/selected_connection.h"

#include "monitor/tcp_state_names.h"

namespace tarnwick {

TRowCommands AvailableRowCommands(const TConnectionRow* shown) {
    if (!shown || !shown->Key) return {};
    const bool established = shown->Key->Tcp && shown->Status == kStatusEstablished;
    return TRowCommands{established, established || !shown->Key->Tcp};
}

std::optional<TFoundConnection> FindShownConnection(const ConnectionSnapshot& snapshot, const TConnectionRow* shown) {
    if (!shown || !shown->Key) return std::nullopt;
    return snapshot.FindConnection(*shown->Key);
}

std::optional<uint32_t> OwningProcessOf(const ConnectionSnapshot& snapshot, const TFoundConnection& found) {
    if (!snapshot.ExTablesAvailable()) return std::nullopt;
    return found.OwningPid();
}

TShownProcessExe ShownProcessExe(const ConnectionSnapshot& snapshot, const TConnectionRow* shown,
                                 const std::function<TResult<std::string>(uint32_t pid)>& exePathOf) {
    using TProblem = TShownProcessExe::TProblem;
    const auto found = FindShownConnection(snapshot, shown);
    if (shown && shown->Key && !found) return {TProblem::Gone, {}};
    const auto pid = found ? OwningProcessOf(snapshot, *found) : std::nullopt;
    if (!pid || !exePathOf) return {TProblem::NoExe, {}};
    TResult<std::string> path = exePathOf(*pid);
    if (!path) return {TProblem::NoExe, {}};
    return {TProblem::None, std::move(path).Value()};
}

}  // namespace tarnwick
