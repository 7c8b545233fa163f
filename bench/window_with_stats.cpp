// tarnwick-window-stats: the windowed program with refresh statistics on
// stderr (see refresh_stats_observer.h), for bench/window_refresh.sh.
#include "refresh_stats_observer.h"
#include "ui/connection_grid_model.h"
#include "window_program.h"

int main(int argc, char** argv) {
    return tarnwick::RunWindowProgram(argc, argv, [](tarnwick::TMain_F& form) {
        auto* stats = new tarnwick::TRefreshStatsObserver([&form] { return form.GridModel().GridRowCount(); }, &form);
        form.SetRefreshObserver(stats);
    });
}
