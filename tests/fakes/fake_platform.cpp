#include "fakes/fake_platform.h"

#include <cstring>

namespace tarnwick::testing {

namespace {

uint32_t FillPlain(const std::vector<uint8_t>& table, uint32_t sizeAnswer, uint32_t result, uint8_t* buffer,
                   uint32_t& size) {
    if (buffer == nullptr) {
        if (sizeAnswer == kInsufficientBuffer) size = static_cast<uint32_t>(table.size());
        return sizeAnswer;
    }
    if (size < table.size()) {
        size = static_cast<uint32_t>(table.size());
        return kInsufficientBuffer;
    }
    if (result != kTableOk) return result;
    std::memcpy(buffer, table.data(), table.size());
    return kTableOk;
}

}  // namespace

uint32_t TFakeIpTables::GetTcpExTable(std::vector<uint8_t>& table) {
    ++Calls;
    table = TcpResult == kTableOk ? EncodeTcpTable(TcpRows, true) : std::vector<uint8_t>{};
    return TcpResult;
}

uint32_t TFakeIpTables::GetUdpExTable(std::vector<uint8_t>& table) {
    ++Calls;
    table = UdpResult == kTableOk ? EncodeUdpTable(UdpRows, true) : std::vector<uint8_t>{};
    return UdpResult;
}

uint32_t TFakeIpTables::GetTcp6ExTable(std::vector<uint8_t>& table) {
    table = EncodeTcp6Table(Tcp6Rows);
    return kTableOk;
}

uint32_t TFakeIpTables::GetUdp6ExTable(std::vector<uint8_t>& table) {
    table = EncodeUdp6Table(Udp6Rows);
    return kTableOk;
}

uint32_t TFakeIpTables::GetTcpTable(uint8_t* buffer, uint32_t& size, bool) {
    ++Calls;
    return FillPlain(EncodeTcpTable(TcpRows, false), TcpSizeAnswer, TcpResult, buffer, size);
}

uint32_t TFakeIpTables::GetUdpTable(uint8_t* buffer, uint32_t& size, bool) {
    ++Calls;
    return FillPlain(EncodeUdpTable(UdpRows, false), UdpSizeAnswer, UdpResult, buffer, size);
}

std::vector<TSocketIdentity> TFakeIpTables::TakeTcpIdentities() {
    std::vector<TSocketIdentity> identities;
    for (const auto* rows : {&TcpRows, &Tcp6Rows})
        for (const TTcpRow& row : *rows) identities.push_back({row.Cookie, row.Inode});
    return identities;
}

TTcpRow TcpRow(uint32_t state, uint32_t localAddr, uint16_t localPort, uint32_t remoteAddr, uint16_t remotePort,
               uint32_t pid) {
    return TTcpRow{state, localAddr, PortField(localPort), remoteAddr, PortField(remotePort), pid};
}

TUdpRow UdpRow(uint32_t localAddr, uint16_t localPort, uint32_t pid) {
    return TUdpRow{localAddr, PortField(localPort), pid};
}

TTcpRow Tcp6Row(uint32_t state, const char* localAddr, uint16_t localPort, const char* remoteAddr,
                uint16_t remotePort, uint32_t pid) {
    TTcpRow row{state, 0, PortField(localPort), 0, PortField(remotePort), pid};
    row.V6 = true;
    row.LocalAddr6 = ParseIp6(localAddr).value();
    row.RemoteAddr6 = ParseIp6(remoteAddr).value();
    return row;
}

TUdpRow Udp6Row(const char* localAddr, uint16_t localPort, uint32_t pid) {
    TUdpRow row{0, PortField(localPort), pid};
    row.V6 = true;
    row.LocalAddr6 = ParseIp6(localAddr).value();
    return row;
}

}  // namespace tarnwick::testing
