#include "monitor/connection_snapshot.h"

namespace tarnwick {

ConnectionSnapshot::ConnectionSnapshot(bool exTablesAvailable) : ExTablesAvailable_(exTablesAvailable) {}

bool ConnectionSnapshot::FetchTables(TIpTables& tables, TProcessList& processes) {
    return ExTablesAvailable_ ? FetchExTables(tables, processes) : FetchPlainTables(tables);
}

bool ConnectionSnapshot::FetchExTables(TIpTables& tables, TProcessList& processes) {
    TcpTable_.clear();
    UdpTable_.clear();
    TcpResult_ = tables.GetTcpExTable(TcpTable_);
    if (TcpResult_ != kTableOk) TcpTable_.clear();
    UdpResult_ = tables.GetUdpExTable(UdpTable_);
    if (UdpResult_ != kTableOk) UdpTable_.clear();
    Processes_.emplace(TProcessSnapshot::Take(processes));
    return true;
}

bool ConnectionSnapshot::FetchPlainTables(TIpTables& tables) {
    // One size variable serves both tables, each asked first without a buffer.
    auto fetch = [&tables](auto getTable, std::vector<uint8_t>& table, uint32_t& result) {
        uint32_t size = 0;
        if ((tables.*getTable)(nullptr, size, false) != kInsufficientBuffer) return false;
        table.assign(size, 0);
        result = (tables.*getTable)(table.data(), size, true);
        if (result != kTableOk) table.clear();
        return true;
    };
    return fetch(&TIpTables::GetTcpTable, TcpTable_, TcpResult_) &&
           fetch(&TIpTables::GetUdpTable, UdpTable_, UdpResult_);
}

uint32_t ConnectionSnapshot::TcpRowCount() const {
    return TcpResult_ == kTableOk ? TableRowCount(TcpTable_, TcpRowSize()) : 0;
}

uint32_t ConnectionSnapshot::UdpRowCount() const {
    return UdpResult_ == kTableOk ? TableRowCount(UdpTable_, UdpRowSize()) : 0;
}

TTcpRow ConnectionSnapshot::TcpRow(size_t index) const {
    if (index >= TcpRowCount()) return {};
    return DecodeTcpRow(TcpTable_, index, ExTablesAvailable_);
}

TUdpRow ConnectionSnapshot::UdpRow(size_t index) const {
    if (index >= UdpRowCount()) return {};
    return DecodeUdpRow(UdpTable_, index, ExTablesAvailable_);
}

void ConnectionSnapshot::SetTcpRemotePort(size_t index, uint32_t portField) {
    if (index >= TcpRowCount()) return;
    WriteTableField(TcpTable_, kTableCountSize + index * TcpRowSize() + 16, portField);
}

}  // namespace tarnwick
