// The view switches of the connection grid. The window thread changes
// them while a refresh may be reading them on a worker; each is read where it
// is used, so a change takes effect at the next read.
#pragma once

#include <atomic>

namespace tarnwick {

struct TViewSettings {
    std::atomic<bool> ShowTcp{true};         // TCP rows are listed in the grid
    std::atomic<bool> ShowUdp{true};         // UDP rows are listed in the grid
    std::atomic<bool> ShowShortNames{true};  // well-known ports show their short names
    std::atomic<bool> ShowIpv6{true};        // rows of IPv6 sockets (TCPv6, UDPv6) are listed in the grid
    std::atomic<bool> ShowTraffic{false};    // the grid's four traffic columns follow Process
    // Remote addresses are located: the grid's Country and Network columns
    // follow Process (before any traffic columns), and the log's connections
    // carry their locations.
    std::atomic<bool> ShowLocation{false};
    // The byte counters are read (the window always reads them, so that rates
    // are ready the moment something shows them; the command line only for its
    // traffic output). Reading them costs up to a tenth more processor time per
    // refresh at 50,000 connections.
    std::atomic<bool> ReadTraffic{false};
};

}  // namespace tarnwick
