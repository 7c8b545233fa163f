// tarnwick-window-stats: the windowed program with refresh statistics on
// stderr (see refresh_stats_observer.h), for bench/window_refresh.sh and
// bench/window_memory.sh.
//
// Usage: tarnwick-window-stats [--quit-after N] [the window's own arguments]
// With --quit-after, the program ends after its N-th refresh.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "refresh_stats_observer.h"
#include "ui/connection_grid_model.h"
#include "window_program.h"

int main(int argc, char** argv) {
    int quitAfter = 0;
    std::vector<char*> args(argv, argv + argc);
    if (args.size() >= 3 && std::strcmp(args[1], "--quit-after") == 0) {
        quitAfter = std::atoi(args[2]);
        args.erase(args.begin() + 1, args.begin() + 3);
    }
    int count = static_cast<int>(args.size());
    args.push_back(nullptr);
    return tarnwick::RunWindowProgram(count, args.data(), [quitAfter](tarnwick::TMain_F& form) {
        auto* stats = new tarnwick::TRefreshStatsObserver([&form] { return form.GridModel().GridRowCount(); },
                                                          quitAfter, &form);
        form.SetRefreshObserver(stats);
    });
}
