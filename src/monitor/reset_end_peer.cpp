#include "monitor/reset_end_peer.h"

namespace tarnwick {

bool IsResetEnd(const TTcpRow& row) { return row.RemotePort == 0; }

std::optional<TTcpRow> NameResetEnd(const TTcpRow& reset, std::span<const TConnectionKey> peers) {
    std::optional<TTcpRow> named;
    for (const TConnectionKey& peer : peers) {
        if (!peer.Tcp || peer.V6() != reset.V6() || peer.RemotePort != reset.LocalPort || peer.LocalPort == 0) continue;
        if (peer.LocalAddr.value_or(TInetAddress::Any(reset.V6())) != reset.RemoteAddr) continue;
        TTcpRow candidate = reset;
        candidate.RemotePort = peer.LocalPort;
        candidate.LocalAddr = peer.RemoteAddr;
        candidate.Interface = peer.Interface;
        if (named && KeyOfTcpRow(*named) != KeyOfTcpRow(candidate)) return std::nullopt;
        named = candidate;
    }
    return named;
}

}  // namespace tarnwick
