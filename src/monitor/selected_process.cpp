#include "monitor/selected_process.h"

#include "monitor/grid_row_mapping.h"

namespace tarnwick {

std::optional<uint32_t> SelectedProcessId(int gridRow, bool tcpShown, bool udpShown,
                                          const ConnectionSnapshot& snapshot) {
    if (!snapshot.ExTablesAvailable()) return std::nullopt;
    const auto row = SnapshotRowOfGridRow(gridRow, tcpShown, udpShown, snapshot);
    if (!row) return std::nullopt;
    return row->Tcp ? snapshot.TcpRow(row->Index).OwningPid : snapshot.UdpRow(row->Index).OwningPid;
}

}  // namespace tarnwick
