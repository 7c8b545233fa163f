#include "fakes/fake_platform.h"

namespace tarnwick::testing {

namespace {

template <typename TTable, typename TRow>
TTable Joined(const std::vector<TRow>& v4, const std::vector<TRow>& v6, bool ipv6) {
    TTable table;
    table.Rows = v4;
    if (ipv6) {
        table.Rows.insert(table.Rows.end(), v6.begin(), v6.end());
        table.Ipv6Rows = v6.size();
    }
    return table;
}

}  // namespace

TResult<TTcpTable> TFakeIpTables::FetchTcp(const TTableRequest& request) {
    ++Calls;
    if (TcpFailure) return *TcpFailure;
    TTcpTable table = Joined<TTcpTable>(TcpRows, Tcp6Rows, request.Ipv6);
    table.TrafficRead = TrafficRead;
    return table;
}

TResult<TUdpTable> TFakeIpTables::FetchUdp(const TTableRequest& request) {
    ++Calls;
    if (UdpFailure) return *UdpFailure;
    return Joined<TUdpTable>(UdpRows, Udp6Rows, request.Ipv6);
}

TTcpRow TcpRow(TTcpState state, TInetAddress localAddr, uint16_t localPort, TInetAddress remoteAddr,
               uint16_t remotePort, uint32_t pid) {
    TTcpRow row;
    row.State = state;
    row.LocalAddr = localAddr;
    row.LocalPort = localPort;
    row.RemoteAddr = remoteAddr;
    row.RemotePort = remotePort;
    row.OwningPid = pid;
    return row;
}

TUdpRow UdpRow(TInetAddress localAddr, uint16_t localPort, uint32_t pid) {
    TUdpRow row;
    row.LocalAddr = localAddr;
    row.LocalPort = localPort;
    row.OwningPid = pid;
    return row;
}

TTcpRow Tcp6Row(TTcpState state, const char* localAddr, uint16_t localPort, const char* remoteAddr,
                uint16_t remotePort, uint32_t pid) {
    return TcpRow(state, TInetAddress::Ipv6(ParseIp6(localAddr).value()), localPort,
                  TInetAddress::Ipv6(ParseIp6(remoteAddr).value()), remotePort, pid);
}

TUdpRow Udp6Row(const char* localAddr, uint16_t localPort, uint32_t pid) {
    return UdpRow(TInetAddress::Ipv6(ParseIp6(localAddr).value()), localPort, pid);
}

TLocationOpener TFakeLocationDatabase::Opener() {
    class TLookup final : public TLocationLookup {
    public:
        TLookup(std::shared_ptr<TState> state, int generation) : State_(std::move(state)), Generation_(generation) {}
        std::optional<TLocation> Locate(const TInetAddress& address) override {
            std::lock_guard lock(State_->Mutex);
            State_->Asked.push_back(address);
            const auto it = State_->Locations.find(address);
            if (it == State_->Locations.end()) return std::nullopt;
            return it->second;
        }
        const TLocationDatabase& Database() const override { return Info_; }
        bool Replaced() const override {
            std::lock_guard lock(State_->Mutex);
            return State_->Generation != Generation_;
        }

    private:
        std::shared_ptr<TState> State_;
        int Generation_;
        TLocationDatabase Info_{"/fake/location.db", {}};
    };
    return [state = State_]() -> TResult<std::unique_ptr<TLocationLookup>> {
        std::lock_guard lock(state->Mutex);
        ++state->Opens;
        if (state->Failure) return *state->Failure;
        return std::unique_ptr<TLocationLookup>(std::make_unique<TLookup>(state, state->Generation));
    };
}

}  // namespace tarnwick::testing
