#include "monitor/selected_connection.h"

namespace tarnwick {

TRowCommands AvailableRowCommands(const TConnectionRow* shown) {
    if (!shown || !shown->Key) return {};
    const bool established = shown->Key->Tcp && shown->State == TTcpState::Established;
    return TRowCommands{established, established || !shown->Key->Tcp};
}

std::optional<TProgramSelector> ShownProgram(const TConnectionRow* shown) {
    if (!shown || !shown->Key || shown->Process.empty() || shown->Process == kUnknownProcessText) return std::nullopt;
    return TProgramSelector{std::nullopt, shown->Process};
}

std::optional<TFoundConnection> FindShownConnection(const ConnectionSnapshot& snapshot, const TConnectionRow* shown) {
    if (!shown || !shown->Key) return std::nullopt;
    return snapshot.FindConnection(*shown->Key);
}

TShownProcessExe ShownProcessExe(const ConnectionSnapshot& snapshot, const TConnectionRow* shown,
                                 const std::function<TResult<std::string>(uint32_t pid)>& exePathOf) {
    using TProblem = TShownProcessExe::TProblem;
    const auto found = FindShownConnection(snapshot, shown);
    if (shown && shown->Key && !found) return {TProblem::Gone, {}};
    if (!found || !exePathOf) return {TProblem::NoExe, {}};
    TResult<std::string> path = exePathOf(found->OwningPid());
    if (!path) return {TProblem::NoExe, {}};
    return {TProblem::None, std::move(path).Value()};
}

}  // namespace tarnwick
