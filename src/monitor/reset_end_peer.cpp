#include "monitor/reset_end_peer.h"

namespace tarnwick {

bool IsResetEnd(const TTcpRow& row) { return PortFromField(row.RemotePort) == 0; }

std::optional<TTcpRow> NameResetEnd(const TTcpRow& reset, std::span<const TConnectionKey> peers) {
    const uint16_t localPort = PortFromField(reset.LocalPort);
    std::optional<TTcpRow> named;
    for (const TConnectionKey& peer : peers) {
        if (!peer.Tcp || peer.V6 != reset.V6 || peer.RemotePort != localPort || peer.LocalPort == 0) continue;
        TTcpRow candidate = reset;
        candidate.RemotePort = PortField(peer.LocalPort);
        if (reset.V6) {
            if (peer.LocalAddr6 != reset.RemoteAddr6) continue;
            candidate.LocalAddr6 = peer.RemoteAddr6;
            candidate.Interface = peer.Interface;
        } else {
            if (peer.LocalAddr.value_or(0) != reset.RemoteAddr) continue;
            candidate.LocalAddr = peer.RemoteAddr;
        }
        if (named && KeyOfTcpRow(*named) != KeyOfTcpRow(candidate)) return std::nullopt;
        named = candidate;
    }
    return named;
}

}  // namespace tarnwick
