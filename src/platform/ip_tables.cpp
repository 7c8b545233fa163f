#include "platform/ip_tables.h"

#include <algorithm>
#include <array>

namespace tarnwick {

void WriteTableField(std::vector<uint8_t>& table, size_t offset, uint32_t value) {
    // Little-endian whatever the host, so tables compare byte for byte.
    table[offset] = static_cast<uint8_t>(value);
    table[offset + 1] = static_cast<uint8_t>(value >> 8);
    table[offset + 2] = static_cast<uint8_t>(value >> 16);
    table[offset + 3] = static_cast<uint8_t>(value >> 24);
}

uint32_t ReadTableField(const std::vector<uint8_t>& table, size_t offset) {
    if (offset + 4 > table.size()) return 0;
    return static_cast<uint32_t>(table[offset]) | (static_cast<uint32_t>(table[offset + 1]) << 8) |
           (static_cast<uint32_t>(table[offset + 2]) << 16) | (static_cast<uint32_t>(table[offset + 3]) << 24);
}

namespace {

// The fields of one row of an IPv4 table, in order: at most six.
struct TRowFields {
    std::array<uint32_t, 6> Values{};
    size_t Count = 0;
    void Add(uint32_t value) { Values[Count++] = value; }
    const uint32_t* begin() const { return Values.data(); }
    const uint32_t* end() const { return Values.data() + Count; }
};

template <typename Row, typename Fields>
std::vector<uint8_t> EncodeTable(const std::vector<Row>& rows, size_t rowSize, Fields fields) {
    std::vector<uint8_t> table(kTableCountSize + rows.size() * rowSize);
    WriteTableField(table, 0, static_cast<uint32_t>(rows.size()));
    size_t offset = kTableCountSize;
    for (const Row& row : rows) {
        for (uint32_t value : fields(row)) {
            if (offset + 4 > table.size()) break;
            WriteTableField(table, offset, value);
            offset += 4;
        }
    }
    return table;
}

}  // namespace

std::vector<uint8_t> EncodeTcpTable(const std::vector<TTcpRow>& rows, bool extended) {
    const size_t rowSize = extended ? kTcpRowExSize : kTcpRowSize;
    return EncodeTable(rows, rowSize, [extended](const TTcpRow& r) {
        TRowFields f;
        for (uint32_t value : {r.State, r.LocalAddr, r.LocalPort, r.RemoteAddr, r.RemotePort}) f.Add(value);
        if (extended) f.Add(r.OwningPid);
        return f;
    });
}

std::vector<uint8_t> EncodeUdpTable(const std::vector<TUdpRow>& rows, bool extended) {
    const size_t rowSize = extended ? kUdpRowExSize : kUdpRowSize;
    return EncodeTable(rows, rowSize, [extended](const TUdpRow& r) {
        TRowFields f;
        f.Add(r.LocalAddr);
        f.Add(r.LocalPort);
        if (extended) f.Add(r.OwningPid);
        return f;
    });
}

uint32_t TableRowCount(const std::vector<uint8_t>& table, size_t rowSize) {
    if (table.size() < kTableCountSize || rowSize == 0) return 0;
    const uint32_t claimed = ReadTableField(table, 0);
    const size_t held = (table.size() - kTableCountSize) / rowSize;
    return claimed < held ? claimed : static_cast<uint32_t>(held);
}

TTcpRow DecodeTcpRow(const std::vector<uint8_t>& table, size_t index, bool extended) {
    const size_t base = kTableCountSize + index * (extended ? kTcpRowExSize : kTcpRowSize);
    TTcpRow row;
    row.State = ReadTableField(table, base);
    row.LocalAddr = ReadTableField(table, base + 4);
    row.LocalPort = ReadTableField(table, base + 8);
    row.RemoteAddr = ReadTableField(table, base + 12);
    row.RemotePort = ReadTableField(table, base + 16);
    if (extended) row.OwningPid = ReadTableField(table, base + 20);
    return row;
}

TUdpRow DecodeUdpRow(const std::vector<uint8_t>& table, size_t index, bool extended) {
    const size_t base = kTableCountSize + index * (extended ? kUdpRowExSize : kUdpRowSize);
    TUdpRow row;
    row.LocalAddr = ReadTableField(table, base);
    row.LocalPort = ReadTableField(table, base + 4);
    if (extended) row.OwningPid = ReadTableField(table, base + 8);
    return row;
}

namespace {

void WriteAddress6(std::vector<uint8_t>& table, size_t offset, const TIp6Address& address) {
    if (offset + address.size() <= table.size()) std::copy(address.begin(), address.end(), table.begin() + offset);
}

TIp6Address ReadAddress6(const std::vector<uint8_t>& table, size_t offset) {
    TIp6Address address{};
    if (offset + address.size() <= table.size())
        std::copy(table.begin() + offset, table.begin() + offset + address.size(), address.begin());
    return address;
}

// A table of `rows` IPv6 rows of `rowSize` bytes each, filled by `write(row, offset)`.
template <typename Row, typename Write>
std::vector<uint8_t> EncodeTable6(const std::vector<Row>& rows, size_t rowSize, Write write) {
    std::vector<uint8_t> table(kTableCountSize + rows.size() * rowSize);
    WriteTableField(table, 0, static_cast<uint32_t>(rows.size()));
    for (size_t i = 0; i < rows.size(); ++i) write(table, rows[i], kTableCountSize + i * rowSize);
    return table;
}

}  // namespace

std::vector<uint8_t> EncodeTcp6Table(const std::vector<TTcpRow>& rows) {
    return EncodeTable6(rows, kTcp6RowExSize, [](std::vector<uint8_t>& table, const TTcpRow& r, size_t base) {
        WriteTableField(table, base, r.State);
        WriteAddress6(table, base + 4, r.LocalAddr6);
        WriteTableField(table, base + 20, r.LocalPort);
        WriteAddress6(table, base + 24, r.RemoteAddr6);
        WriteTableField(table, base + 40, r.RemotePort);
        WriteTableField(table, base + 44, r.Interface);
        WriteTableField(table, base + 48, r.OwningPid);
    });
}

std::vector<uint8_t> EncodeUdp6Table(const std::vector<TUdpRow>& rows) {
    return EncodeTable6(rows, kUdp6RowExSize, [](std::vector<uint8_t>& table, const TUdpRow& r, size_t base) {
        WriteAddress6(table, base, r.LocalAddr6);
        WriteTableField(table, base + 16, r.LocalPort);
        WriteTableField(table, base + 20, r.Interface);
        WriteTableField(table, base + 24, r.OwningPid);
    });
}

TTcpRow DecodeTcp6Row(const std::vector<uint8_t>& table, size_t index) {
    const size_t base = kTableCountSize + index * kTcp6RowExSize;
    TTcpRow row;
    row.V6 = true;
    row.State = ReadTableField(table, base);
    row.LocalAddr6 = ReadAddress6(table, base + 4);
    row.LocalPort = ReadTableField(table, base + 20);
    row.RemoteAddr6 = ReadAddress6(table, base + 24);
    row.RemotePort = ReadTableField(table, base + 40);
    row.Interface = ReadTableField(table, base + 44);
    row.OwningPid = ReadTableField(table, base + 48);
    return row;
}

TUdpRow DecodeUdp6Row(const std::vector<uint8_t>& table, size_t index) {
    const size_t base = kTableCountSize + index * kUdp6RowExSize;
    TUdpRow row;
    row.V6 = true;
    row.LocalAddr6 = ReadAddress6(table, base);
    row.LocalPort = ReadTableField(table, base + 16);
    row.Interface = ReadTableField(table, base + 20);
    row.OwningPid = ReadTableField(table, base + 24);
    return row;
}

}  // namespace tarnwick
