#include "monitor/refresh.h"

#include <algorithm>
#include <deque>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "common/inet_address.h"
#include "common/text_util.h"
#include "monitor/connection_events.h"
#include "monitor/grid_row_mapping.h"
#include "monitor/reset_end_peer.h"
#include "monitor/tcp_state_names.h"

namespace tarnwick {

namespace {

// The process list lives for one refresh, also one that ends by an exception.
class TProcessSnapshotCloser {
public:
    explicit TProcessSnapshotCloser(ConnectionSnapshot& snapshot) : Snapshot_(snapshot) {}
    ~TProcessSnapshotCloser() { Snapshot_.CloseProcessSnapshot(); }
    TProcessSnapshotCloser(const TProcessSnapshotCloser&) = delete;
    TProcessSnapshotCloser& operator=(const TProcessSnapshotCloser&) = delete;

private:
    ConnectionSnapshot& Snapshot_;
};

void SetLogTraffic(TLogConnection& c, const std::optional<TSocketTraffic>& counters) {
    if (!counters || !counters->Known) return;
    c.BytesSent = counters->BytesSent;
    c.BytesReceived = counters->BytesReceived;
}

// The connection of TCP row `row`, shown as `texts`, for its log lines.
TLogConnection RowConnection(const TTcpRow& row, const TConnectionRow& texts, const std::string& remoteAddr,
                             TEndpointTexts& endpoints) {
    TLogConnection c;
    c.Protocol = texts.Protocol;
    c.LocalAddress = AddressNumericText(row.LocalAddr, row.Interface, endpoints);
    c.LocalPort = row.LocalPort;
    c.RemoteAddress = remoteAddr;
    c.RemotePort = row.RemotePort;
    c.State = texts.Status;
    // Pid 0: no process holds the socket (Time_Wait), or it is not ours to see.
    if (row.OwningPid != 0) {
        c.Pid = row.OwningPid;
        c.Process = texts.Process;
    }
    if (texts.Traffic) SetLogTraffic(c, TSocketTraffic{texts.Traffic->BytesSent, texts.Traffic->BytesReceived, true});
    c.RemoteLocation = texts.Location;
    return c;
}

// A connection gone from the tables, as it was last seen.
TLogConnection GoneConnection(const TConnectionitem& item, const TTrafficMonitor& traffic, TEndpointTexts& endpoints) {
    TLogConnection c;
    c.Protocol = item.Protocol();
    c.RemoteAddress = item.RemoteAddr();
    const TConnectionKey& key = item.Key();
    c.LocalAddress = AddressNumericText(key.LocalAddr.value_or(TInetAddress::Any(key.V6())), key.Interface, endpoints);
    c.LocalPort = key.LocalPort;
    c.RemotePort = key.RemotePort;
    // A Time_Wait remnant has no counters: those of the socket it took over from stand.
    SetLogTraffic(c, item.LastTraffic().Known ? item.LastTraffic() : traffic.LastCounters(key));
    c.State = item.Status();
    if (item.Pid() != 0) {
        c.Pid = item.Pid();
        c.Process = item.Process();
    }
    return c;
}

// The first of `listeners` that accepted `row`: on its local port and
// address (or on any address). Null when none is.
const TListener* ListenerOf(const std::vector<TListener>& listeners, const TTcpRow& row) {
    for (const TListener& listener : listeners) {
        const TTcpRow& socket = listener.Row;
        if (socket.LocalPort != row.LocalPort) continue;
        // An IPv6 listener on any address takes IPv4 connections too (as IPv4-mapped ones).
        if (socket.LocalAddr.Unspecified() && (socket.V6() || !row.V6())) return &listener;
        if (socket.LocalAddr == row.LocalAddr) return &listener;
    }
    return nullptr;
}

}  // namespace

TRefresh::TRefresh(ConnectionSnapshot& snapshot, TConnectionitems& connections, TPlatformServices platform,
                   const TViewSettings& view)
    : Snapshot_(snapshot), Connections_(connections), Platform_(platform), View_(view),
      Endpoints_(platform.Names, view) {}

void TRefresh::Run(TRefreshOutlets& outlets) {
    TProcessSnapshotCloser closer(Snapshot_);
    const auto fetchStarted = std::chrono::system_clock::now();
    Snapshot_.SetReadTraffic(View_.ReadTraffic);
    Snapshot_.FetchTables(Platform_.IpTables, Platform_.Processes);
    Tables_ = Snapshot_.Tables();
    if (MapOwners && !Tables_->TcpFailure)
        Owners_->Publish(std::make_shared<const TSocketOwnerMap>(*Tables_, Snapshot_.Processes()));

    // Each switch is read once here, so the grid's size and its rows agree.
    const bool ipv6Shown = View_.ShowIpv6;
    const int shownTcp = static_cast<int>(ShownTcpRows(Snapshot_, View_.ShowTcp, ipv6Shown));
    const int shownUdp = static_cast<int>(ShownUdpRows(Snapshot_, View_.ShowUdp, ipv6Shown));
    SizeGrid(outlets, 1 + shownTcp + shownUdp);
    if (outlets.Stopping()) return;

    Endpoints_.BeginRefresh();
    if (TrackConnections || shownTcp > 0) ResolveRemoteHosts();
    if (outlets.Stopping()) return;
    LocateRemoteAddresses(outlets);
    if (!Tables_->TcpFailure) ReportShortLived(outlets, fetchStarted);
    Traffic.BeginRefresh();
    if (!Tables_->TcpFailure) ProcessTcpRows(outlets, shownTcp);
    if (!Tables_->UdpFailure) ProcessUdpRows(outlets, shownTcp, shownUdp);
    Traffic.EndRefresh(Snapshot_.TcpTrafficRead());
    ReportDisconnected(outlets);
    Connections_.RemoveUnseen();
    EndedByCookie_.clear();
    EndedByKey_.clear();
    Listeners_.clear();
    RowLocations_.clear();
    Tables_.reset();
}

void TRefresh::SizeGrid(TRefreshOutlets& outlets, int rows) {
    if (rows == outlets.GridRowCount()) return;
    // The grid keeps its header and at least one data row, blank when nothing is shown.
    if (rows == 1) {
        outlets.SetGridRowCount(2);
        outlets.WriteGridRow(1, TConnectionRow{});
    } else {
        outlets.SetGridRowCount(rows);
    }
}

void TRefresh::ResolveRemoteHosts() {
    // All names of a refresh are asked at once and waited for within one
    // budget, instead of one slow lookup after another per row.
    std::vector<uint32_t> addrs;
    std::unordered_set<uint32_t> asked;
    std::vector<TIp6Address> addrs6;
    std::set<TIp6Address> asked6;
    for (const TTcpRow& row : Tables_->Tcp.Rows) {
        if (row.RemoteAddr.Unspecified()) continue;
        if (row.V6()) {
            if (asked6.insert(row.RemoteAddr.Bytes()).second) addrs6.push_back(row.RemoteAddr.Bytes());
        } else if (const uint32_t field = row.RemoteAddr.Ipv4Field(); asked.insert(field).second) {
            addrs.push_back(field);
        }
    }
    // Both families share the one budget of the refresh.
    const auto started = std::chrono::steady_clock::now();
    if (!addrs.empty()) Platform_.Names.ResolveHosts(addrs, HostNameBudget);
    if (!addrs6.empty()) {
        const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
        Platform_.Names.ResolveHosts6(addrs6, std::max(HostNameBudget - spent, std::chrono::milliseconds(0)));
    }
}

void TRefresh::LocateRemoteAddresses(const TRefreshOutlets& outlets) {
    RowLocations_.clear();
    if (!Locations || !View_.ShowLocation || Tables_->TcpFailure) return;
    RemoteAddresses_.clear();
    for (const TTcpRow& row : Tables_->Tcp.Rows) RemoteAddresses_.push_back(row.RemoteAddr);
    Locations->LocateAll(RemoteAddresses_,
                         outlets.MayWaitForLookups() ? LocationBudget : std::chrono::milliseconds(0), RowLocations_);
}

const TLocation* TRefresh::KnownLocation(const TInetAddress& address) const {
    return Locations && View_.ShowLocation ? Locations->Find(address) : nullptr;
}

void TRefresh::ProcessTcpRows(TRefreshOutlets& outlets, int shownTcp) {
    const std::vector<TTcpRow>& rows = Tables_->Tcp.Rows;
    const TProcessSnapshot* processes = Snapshot_.Processes();
    if (!TrackConnections) {
        for (int i = 0; i < shownTcp; ++i) {
            TConnectionRow texts = BuildTcpRowTexts(rows[static_cast<size_t>(i)], processes, Endpoints_);
            texts.Location = RowLocation(static_cast<uint32_t>(i));
            outlets.WriteGridRow(i + 1, texts);
        }
        return;
    }
    Connections_.ClearSeen();
    LastListeners_.clear();
    Connections_.Reserve(rows.size());
    for (uint32_t i = 0; i < rows.size(); ++i) {
        const TTcpRow& row = rows[i];
        TConnectionRow texts = BuildTcpRowTexts(row, processes, Endpoints_);
        texts.Location = RowLocation(i);
        AddTraffic(row, texts);
        if (row.State == TTcpState::Listening && row.OwningPid != 0) LastListeners_.push_back({row, texts.Process});

        // The row's numbers in words are made only for the lines it is in.
        const auto remoteAddr = [&] { return AddressNumericText(row.RemoteAddr, row.Interface, Endpoints_); };
        const auto connectionOf = [&] { return RowConnection(row, texts, remoteAddr(), Endpoints_); };
        const int32_t result = Connections_.UpdateConnection(texts, remoteAddr, row.OwningPid, row.Cookie);
        if (result == TConnectionitems::kReplaced) ReportGone(outlets, *Connections_.TakeReplaced());
        TConnectionitem& item = Connections_.LastUpdated();
        if (texts.Traffic) item.SetLastTraffic({texts.Traffic->BytesSent, texts.Traffic->BytesReceived, true});
        const bool isNew = result == TConnectionitems::kNew || result == TConnectionitems::kReplaced;
        const bool changed = isNew || result == TConnectionitems::kStatusChanged;
        if (row.State == TTcpState::SynSent || row.State == TTcpState::SynRcvd) item.SetSeenInHandshake();
        const TEndedConnection* ended = EndedOf(item, *texts.Key);
        if (ended) item.SetLastTraffic(ended->Row.Traffic);

        if (row.State == TTcpState::Established) {
            // Also one first seen in its handshake: it is announced when it gets past it.
            if (!item.Connected()) {
                item.SetConnected();
                LogConnected(outlets, connectionOf(), texts.Process, texts.RemoteAddr, static_cast<int>(i));
            } else if (changed) {
                outlets.AddLog(StatusChangedText(texts.Process, texts.Status, texts.RemoteAddr,
                                                 std::to_string(row.RemotePort)),
                               lkInfo, connectionOf());
            }
        } else if (row.State != TTcpState::Listening || !isNew) {
            // A remnant whose established socket no row showed: it is
            // announced as that connection, by its end or by its state.
            const bool announce = !item.Connected() && row.State != TTcpState::Listening &&
                                  (ended ? ended->WasEstablished
                                         : item.SeenInHandshake() && changed && PastEstablished(row.State));
            if (announce || changed) {
                if (row.OwningPid == 0 && item.Pid() == 0 && ended && announce) {
                    const auto [pid, process] = EndedOwner(ended->Row);
                    item.SetOwner(process, pid);
                }
                TLogConnection connection = connectionOf();
                // The remnant's socket has no owner; the connection's stays its owner.
                if (row.OwningPid == 0 && item.Pid() != 0) {
                    connection.Pid = item.Pid();
                    connection.Process = item.Process();
                }
                const std::string& process = connection.Pid ? connection.Process : item.Process();
                if (announce) {
                    item.SetConnected();
                    TLogConnection established = connection;
                    established.State = TcpStateName(TTcpState::Established);
                    LogConnected(outlets, established, !connection.Pid ? "?" : process, texts.RemoteAddr,
                                 ended ? kEndedConnectionRow : static_cast<int>(i));
                }
                if (changed)
                    outlets.AddLog(StatusChangedText(process, texts.Status, texts.RemoteAddr,
                                                     std::to_string(row.RemotePort)),
                                   lkInfo, connection);
            }
        }
        if (static_cast<int>(i) < shownTcp) outlets.WriteGridRow(static_cast<int>(i) + 1, texts);
    }
}

const TEndedConnection* TRefresh::EndedOf(const TConnectionitem& item, const TConnectionKey& key) const {
    if (item.Cookie() != 0)
        if (const auto it = EndedByCookie_.find(item.Cookie()); it != EndedByCookie_.end()) return &it->second;
    if (item.Connected()) return nullptr;
    const auto it = EndedByKey_.find(key);
    return it == EndedByKey_.end() ? nullptr : &it->second;
}

void TRefresh::LogConnected(TRefreshOutlets& outlets, const TLogConnection& connection, const std::string& process,
                            const std::string& shownAddr, int row) {
    outlets.AddLog(ConnectedText(process, shownAddr, std::to_string(connection.RemotePort)), lkConnect, connection);
    outlets.CheckRules(row, connection);
}

std::pair<uint32_t, std::string> TRefresh::EndedOwner(const TTcpRow& row) const {
    if (const TListener* listener = ListenerOf(Listeners_, row)) return {listener->Row.OwningPid, listener->Process};
    const uint32_t pid = row.Inode != 0 ? Platform_.IpTables.OwnerOfSocket(row.Inode) : 0;
    if (pid == 0) return {0, "?"};
    const TProcessSnapshot* processes = Snapshot_.Processes();
    return {pid, processes ? std::string(processes->GetProcessName(pid)) : "?"};
}

void TRefresh::AddTraffic(const TTcpRow& row, TConnectionRow& texts) {
    if (row.Traffic.Known && texts.Key) texts.Traffic = Traffic.AddConnection(*texts.Key, texts.Process, row.Traffic);
}

void TRefresh::ProcessUdpRows(TRefreshOutlets& outlets, int shownTcp, int shownUdp) {
    // UDP rows only feed the grid, so hidden ones need no texts.
    const std::vector<TUdpRow>& rows = Tables_->Udp.Rows;
    for (int j = 0; j < shownUdp; ++j)
        outlets.WriteGridRow(shownTcp + j + 1,
                             BuildUdpRowTexts(rows[static_cast<size_t>(j)], Snapshot_.Processes(), Endpoints_));
}

void TRefresh::ReportDisconnected(TRefreshOutlets& outlets) {
    for (size_t k = 0; k < Connections_.Count(); ++k) {
        const TConnectionitem& item = Connections_.Items(k);
        if (!item.Seen) ReportGone(outlets, item);
    }
}

void TRefresh::ReportGone(TRefreshOutlets& outlets, const TConnectionitem& item) {
    TConnectionitem gone = item;
    const TEndedConnection* ended = EndedOf(gone, gone.Key());
    if (ended) gone.SetLastTraffic(ended->Row.Traffic);
    TLogConnection connection = GoneConnection(gone, Traffic, Endpoints_);
    connection.RemoteLocation = KnownLocation(gone.Key().RemoteAddr);
    const bool mayConnect = !gone.Connected() && gone.State() != TTcpState::Listening;
    if (mayConnect && ended && ended->WasEstablished) {
        TLogConnection established = connection;
        established.State = TcpStateName(TTcpState::Established);
        LogConnected(outlets, established, !connection.Pid ? "?" : gone.Process(), gone.RemoteAddr(),
                     kEndedConnectionRow);
    }
    outlets.AddLog(DisconnectedText(gone.Process(), gone.RemoteAddr(), gone.RemotePort()), lkDisconnect, connection);
    // Its end is still to be announced: remembered so that the announcement
    // is known for what was already said, and can still tell whether a
    // connection seen only in its handshake got past it.
    if (!Platform_.EndedConnections || ended) return;
    const std::optional<TLogConnection> unconnected =
        mayConnect && gone.State() != TTcpState::Established ? std::optional(connection) : std::nullopt;
    RecentlyGone_.Add(gone.Cookie(), unconnected);
}

// Connections that ended without ever being listed: each is logged as it
// would have been, connected and then gone, in the order they ended, before
// the rows of this refresh, with the time it ended. The others are left to
// the rows and the gone connections they belong to: one whose socket the
// list holds (by cookie), one whose remnant is listed at its ends (a
// Time_Wait row is a socket of its own), one already logged gone. An end
// announced after the tables were read waits for the next tables, which
// show its remnant if it left one.
std::vector<TConnectionKey> TRefresh::PeerEnds(const std::vector<TEndedConnection>& ended, uint32_t rows) const {
    std::vector<TConnectionKey> peers;
    for (const TEndedConnection& end : ended)
        if (!IsResetEnd(end.Row)) peers.push_back(KeyOfTcpRow(end.Row));
    for (uint32_t i = 0; i < rows; ++i) peers.push_back(KeyOfTcpRow(Tables_->Tcp.Rows[i]));
    for (size_t k = 0; k < Connections_.Count(); ++k)
        peers.push_back(Connections_.Items(k).Key());
    return peers;
}

void TRefresh::ReportShortLived(TRefreshOutlets& outlets, std::chrono::system_clock::time_point fetchStarted) {
    if (!Platform_.EndedConnections) return;
    const TEndedTake take = Platform_.EndedConnections->TakeEnded();
    std::vector<TEndedConnection> endedAll = std::move(Deferred_);
    Deferred_.clear();
    endedAll.insert(endedAll.end(), take.Connections.begin(), take.Connections.end());

    const uint32_t rows = static_cast<uint32_t>(Tables_->Tcp.Rows.size());
    uint64_t unmatched = 0;
    if (!endedAll.empty()) {
        // The ended ones are few beside the tables: the list and the rows are
        // looked up in them, not the other way round.
        std::unordered_map<uint64_t, bool> cookies;  // cookie -> a socket of the list
        // Ends -> what the tables hold there: kListed, a socket without a
        // cookie (the ends alone tell then); kRemnantListed, a remnant not
        // yet announced, to stand for the last of these ends to close
        // (kRemnantTaken once it does).
        std::unordered_map<TConnectionKey, int, TConnectionKeyHash> keys;
        constexpr int kListed = 1, kRemnantListed = 2, kRemnantTaken = 3;
        std::unordered_set<uint64_t> knownAtEnds;  // the cookies of the list's items at those ends
        for (const TEndedConnection& ended : endedAll) {
            if (ended.Row.Cookie != 0) cookies.emplace(ended.Row.Cookie, false);
            keys.emplace(KeyOfTcpRow(ended.Row), 0);
        }
        for (size_t k = 0; k < Connections_.Count(); ++k) {
            const TConnectionitem& item = Connections_.Items(k);
            if (const auto it = cookies.find(item.Cookie()); it != cookies.end()) it->second = true;
            const auto it = keys.find(item.Key());
            if (it == keys.end()) continue;
            knownAtEnds.insert(item.Cookie());
            // Without cookies the ends alone tell; with them, only a remnant not yet announced takes an end over.
            const bool remnant = !item.Connected() && item.State() != TTcpState::Listening &&
                                 item.State() != TTcpState::Established && item.State() != TTcpState::SynSent;
            if (item.Cookie() == 0) it->second = kListed;
            else if (remnant) it->second = kRemnantListed;
        }
        const TProcessSnapshot* processes = Snapshot_.Processes();
        for (const TTcpRow& row : Tables_->Tcp.Rows) {
            if (row.State == TTcpState::Listening && row.OwningPid != 0)
                Listeners_.push_back({row, std::string(processes ? processes->GetProcessName(row.OwningPid) : "?")});
            const auto it = keys.find(KeyOfTcpRow(row));
            if (it == keys.end()) continue;
            if (row.Cookie == 0) it->second = kListed;
            // A socket the list knows is its item's to judge (above): one
            // announced already leaves an earlier end at its ends unclaimed.
            else if (PastEstablished(row.State) && it->second == 0 && !knownAtEnds.contains(row.Cookie))
                it->second = kRemnantListed;
        }
        // A listener gone since the last tables still names what it accepted before.
        Listeners_.insert(Listeners_.end(), LastListeners_.begin(), LastListeners_.end());

        // What no socket of the list and no gone connection stands for, in the order it ended.
        std::vector<const TEndedConnection*> unlisted;
        // Reset ends named by their peers (a deque: `unlisted` points into it).
        std::deque<TEndedConnection> namedResetEnds;
        std::optional<std::vector<TConnectionKey>> peers;  // gathered for the first reset end
        for (const TEndedConnection& ended : endedAll) {
            if (ended.EndedAt > fetchStarted) {
                Deferred_.push_back(ended);
                continue;
            }
            const uint64_t cookie = ended.Row.Cookie;
            if (cookie != 0 && cookies.at(cookie)) {
                EndedByCookie_.emplace(cookie, ended);
                continue;
            }
            std::optional<TLogConnection> unconnected;
            if (cookie != 0 && RecentlyGone_.Take(cookie, unconnected)) {
                if (unconnected && ended.WasEstablished) {
                    unconnected->State = TcpStateName(TTcpState::Established);
                    unconnected->At = ended.EndedAt;
                    LogConnected(outlets, *unconnected, unconnected->Pid ? unconnected->Process : "?",
                                 unconnected->RemoteAddress, kEndedConnectionRow);
                }
                continue;
            }
            // A reset end unknown by its cookie is named by the end facing it,
            // where that end is this machine's; else nothing tells which
            // connection it was, and it is counted as not shown.
            if (IsResetEnd(ended.Row)) {
                if (!ended.WasEstablished) continue;
                if (!peers) peers = PeerEnds(endedAll, rows);
                const std::optional<TTcpRow> named = NameResetEnd(ended.Row, *peers);
                if (!named) {
                    ++unmatched;
                    continue;
                }
                TEndedConnection& restored = namedResetEnds.emplace_back(ended);
                restored.Row = *named;
                keys.emplace(KeyOfTcpRow(restored.Row), 0);
                unlisted.push_back(&restored);
                continue;
            }
            unlisted.push_back(&ended);
        }
        // A remnant is left by the last socket to close at its ends: an
        // earlier one there is a connection of its own, closed before the
        // last was made.
        for (auto it = unlisted.rbegin(); it != unlisted.rend(); ++it) {
            const TConnectionKey key = KeyOfTcpRow((*it)->Row);
            int& listed = keys.at(key);
            if (listed != kRemnantListed) continue;
            EndedByKey_.emplace(key, **it);
            listed = kRemnantTaken;
            *it = nullptr;
        }

        std::unordered_set<uint64_t> loggedCookies;
        std::unordered_set<TConnectionKey, TConnectionKeyHash> loggedKeys;
        for (const TEndedConnection* endedAt : unlisted) {
            if (endedAt == nullptr) continue;
            const TEndedConnection& ended = *endedAt;
            const TConnectionKey key = KeyOfTcpRow(ended.Row);
            if (keys.at(key) == kListed) continue;
            // Logged once, also when the system announced the same socket
            // twice; sockets without a cookie are told apart by their ends.
            if (ended.Row.Cookie != 0 ? !loggedCookies.insert(ended.Row.Cookie).second
                                      : !loggedKeys.insert(key).second)
                continue;

            TTcpRow row = ended.Row;
            const auto [pid, process] = EndedOwner(row);
            row.OwningPid = pid;
            TConnectionRow texts;
            texts.Protocol = row.V6() ? kRowProtocolTcp6 : kRowProtocolTcp;
            // A connect never answered was only ever an attempt: logged as the
            // tables would have shown it, in Syn_Sent, and no rule fires.
            texts.Status = TcpStateName(ended.WasEstablished ? TTcpState::Established : TTcpState::SynSent);
            texts.Process = process;
            texts.Location = KnownLocation(row.RemoteAddr);
            const std::string shownAddr = Endpoints_.GetEndpointParts(row.RemoteAddr, row.RemotePort, false, row.Interface).Name;
            const std::string remotePortText = std::to_string(row.RemotePort);
            TLogConnection connection = RowConnection(
                row, texts, AddressNumericText(row.RemoteAddr, row.Interface, Endpoints_), Endpoints_);
            SetLogTraffic(connection, row.Traffic);
            connection.At = ended.EndedAt;
            if (ended.WasEstablished) {
                LogConnected(outlets, connection, texts.Process, shownAddr, kEndedConnectionRow);
            } else {
                outlets.AddLog(StatusChangedText(texts.Process, texts.Status, shownAddr, remotePortText), lkInfo,
                               connection);
            }
            connection.State = TcpStateName(row.State);
            // As for any connection gone, the address is the number, not the host's name.
            outlets.AddLog(DisconnectedText(texts.Process, connection.RemoteAddress, remotePortText), lkDisconnect,
                           connection);
        }
    }
    if (take.Dropped != 0 || unmatched != 0 || take.Lost)
        outlets.AddLog(ShortLivedNotShownText(take.Dropped + unmatched, take.Lost), lkInfo, std::nullopt);
}

}  // namespace tarnwick
