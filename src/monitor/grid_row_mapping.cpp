#include "monitor/grid_row_mapping.h"

namespace tarnwick {

std::optional<TSnapshotRowRef> SnapshotRowOfGridRow(int gridRow, bool tcpShown, bool udpShown,
                                                    const ConnectionSnapshot& snapshot) {
    if (gridRow < 1) return std::nullopt;
    const uint32_t row = static_cast<uint32_t>(gridRow);
    const uint32_t shownTcp = tcpShown ? snapshot.TcpRowCount() : 0;
    if (row <= shownTcp) return TSnapshotRowRef{true, row - 1};
    if (!udpShown) return std::nullopt;
    const uint32_t udp = row - 1 - shownTcp;
    if (udp >= snapshot.UdpRowCount()) return std::nullopt;
    return TSnapshotRowRef{false, udp};
}

}  // namespace tarnwick
