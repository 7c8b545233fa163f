#include "monitor/grid_row_mapping.h"

namespace tarnwick {

uint32_t ShownTcpRows(const ConnectionSnapshot& snapshot, bool tcpShown, bool ipv6Shown) {
    if (!tcpShown) return 0;
    return snapshot.TcpRowCount() - (ipv6Shown ? 0 : snapshot.Tcp6RowCount());
}

uint32_t ShownUdpRows(const ConnectionSnapshot& snapshot, bool udpShown, bool ipv6Shown) {
    if (!udpShown) return 0;
    return snapshot.UdpRowCount() - (ipv6Shown ? 0 : snapshot.Udp6RowCount());
}

std::optional<TSnapshotRowRef> SnapshotRowOfGridRow(int gridRow, bool tcpShown, bool udpShown,
                                                    const ConnectionSnapshot& snapshot, bool ipv6Shown) {
    if (gridRow < 1) return std::nullopt;
    const uint32_t row = static_cast<uint32_t>(gridRow);
    const uint32_t shownTcp = ShownTcpRows(snapshot, tcpShown, ipv6Shown);
    if (row <= shownTcp) return TSnapshotRowRef{true, row - 1};
    const uint32_t udp = row - 1 - shownTcp;
    if (udp >= ShownUdpRows(snapshot, udpShown, ipv6Shown)) return std::nullopt;
    return TSnapshotRowRef{false, udp};
}

}  // namespace tarnwick
