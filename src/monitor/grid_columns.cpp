#include "monitor/grid_columns.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>

#include "common/text_util.h"
#include "monitor/location_texts.h"
#include "monitor/traffic_texts.h"

namespace tarnwick {

namespace {

// What the traffic texts are made of: "1.2 KB", "34 KB/s", "-".
constexpr std::string_view kTrafficTextBytes = "0123456789. bkmgtpe/s-";
constexpr std::string_view kNumberBytes = "0123456789";
constexpr std::string_view kAddressBytes = "0123456789abcdef.:";

template <int Column>
std::string_view CellText(const TConnectionRow& row, std::string&) {
    return row.Cell(Column);
}

template <int Column>
TSortKey CellTextKey(const TConnectionRow& row) {
    return TextSortKey(row.Cell(Column));
}

// The numeric address behind the remote end's name; a UDP row has no remote end.
std::string_view RemoteAddressNumber(const TConnectionRow& row, std::string& scratch) {
    if (!row.Key || !row.Key->Tcp) return {};
    TInetAddress::TTextBuffer buffer;
    scratch.assign(row.Key->RemoteAddr.TextIn(buffer));
    return scratch;
}

// Addresses as addresses: IPv4 before IPv6, each family in the order of its bytes.
TSortKey RemoteAddressKey(const TConnectionRow& row) {
    if (!row.Key) return {};
    const TIp6Address& bytes = row.Key->RemoteAddr.Bytes();
    TSortKey key;
    key.Tier = row.Key->V6() ? 1 : 0;
    for (size_t i = 0; i < 8; ++i) key.High = key.High << 8 | bytes[i];
    for (size_t i = 8; i < 16; ++i) key.Low = key.Low << 8 | bytes[i];
    return key;
}

std::string_view PortNumber(uint16_t port, std::string& scratch) {
    char digits[5];
    return scratch.assign(digits, std::to_chars(digits, digits + sizeof digits, port).ptr);
}

std::string_view RemotePortNumber(const TConnectionRow& row, std::string& scratch) {
    if (!row.Key || !row.Key->Tcp) return {};  // "*": UDP has no remote port
    return PortNumber(row.Key->RemotePort, scratch);
}

std::string_view LocalPortNumber(const TConnectionRow& row, std::string& scratch) {
    if (!row.Key) return {};
    return PortNumber(row.Key->LocalPort, scratch);
}

TSortKey RemotePortKey(const TConnectionRow& row) { return {0, false, row.Key ? row.Key->RemotePort : 0u, 0}; }
TSortKey LocalPortKey(const TConnectionRow& row) { return {0, false, row.Key ? row.Key->LocalPort : 0u, 0}; }

template <int TrafficColumn>
std::string_view TrafficText(const TConnectionRow& row, std::string& scratch) {
    // The blank row of an empty grid shows no traffic at all.
    if (!row.Key) return {};
    scratch = TrafficCellText(row.Traffic, TrafficColumn, TTrafficNumbers::Human);
    return scratch;
}

// Unknown values ("-") sort before every known one.
TSortKey ByteCountKey(const std::optional<TConnectionTraffic>& traffic, uint64_t TConnectionTraffic::*bytes) {
    if (!traffic) return {};
    return {1, false, (*traffic).*bytes, 0};
}

TSortKey RateKey(const std::optional<double>& rate) {
    if (!rate) return {};
    // A rate is never below 0 once shown, and non-negative doubles order as their bits do.
    const double shown = *rate > 0 ? *rate : 0.0;
    return {1, false, std::bit_cast<uint64_t>(shown), 0};
}

TSortKey SentKey(const TConnectionRow& row) { return ByteCountKey(row.Traffic, &TConnectionTraffic::BytesSent); }
TSortKey ReceivedKey(const TConnectionRow& row) {
    return ByteCountKey(row.Traffic, &TConnectionTraffic::BytesReceived);
}
TSortKey SendRateKey(const TConnectionRow& row) { return row.Traffic ? RateKey(row.Traffic->SendRate) : TSortKey{}; }
TSortKey ReceiveRateKey(const TConnectionRow& row) {
    return row.Traffic ? RateKey(row.Traffic->ReceiveRate) : TSortKey{};
}

// The location cells as LocationCellText writes them; a row with nothing
// located, most rows, reads "-" without a text made for it.
std::string_view CountryText(const TConnectionRow& row, std::string&) {
    if (!row.Key) return {};
    if (!row.Location || row.Location->CountryCode.empty()) return "-";
    return row.Location->CountryCode;
}

std::string_view NetworkCellText(const TConnectionRow& row, std::string& scratch) {
    if (!row.Key) return {};
    if (!row.Location) return "-";
    scratch = LocationCellText(row, 1);
    return scratch;
}

// Unlocated rows ("-") sort before located ones; countries by their code,
// networks by their number.
TSortKey CountryKey(const TConnectionRow& row) {
    if (!row.Location || row.Location->CountryCode.empty()) return {};
    TSortKey key = TextSortKey(row.Location->CountryCode);
    key.Tier = 1;
    return key;
}

TSortKey NetworkKey(const TConnectionRow& row) {
    if (!row.Location || row.Location->Asn == 0) return {};
    return {1, false, row.Location->Asn, 0};
}

const std::array<TGridColumn, kGridColumnCount + kLocationColumnCount + kTrafficColumnCount> kColumns{{
    {kGridHeaders[0], CellText<0>, {}, false, RemoteAddressNumber, kAddressBytes, RemoteAddressKey},
    {kGridHeaders[1], CellText<1>, {}, false, RemotePortNumber, kNumberBytes, RemotePortKey},
    {kGridHeaders[2], CellText<2>, {}, false, LocalPortNumber, kNumberBytes, LocalPortKey},
    {kGridHeaders[3], CellText<3>, {}, false, nullptr, {}, CellTextKey<3>},
    {kGridHeaders[4], CellText<4>, {}, false, nullptr, {}, CellTextKey<4>},
    {kGridHeaders[5], CellText<5>, {}, false, nullptr, {}, CellTextKey<5>},
    {kLocationHeaders[0], CountryText, {}, false, nullptr, {}, CountryKey},
    {kLocationHeaders[1], NetworkCellText, {}, true, nullptr, {}, NetworkKey},
    {kTrafficHeaders[0], TrafficText<0>, kTrafficTextBytes, true, nullptr, {}, SentKey},
    {kTrafficHeaders[1], TrafficText<1>, kTrafficTextBytes, true, nullptr, {}, ReceivedKey},
    {kTrafficHeaders[2], TrafficText<2>, kTrafficTextBytes, true, nullptr, {}, SendRateKey},
    {kTrafficHeaders[3], TrafficText<3>, kTrafficTextBytes, true, nullptr, {}, ReceiveRateKey},
}};

}  // namespace

std::span<const TGridColumn> GridColumns() { return kColumns; }

int GridColumnOf(std::string_view title) {
    const auto found = std::find_if(kColumns.begin(), kColumns.end(),
                                    [title](const TGridColumn& column) { return column.Title == title; });
    return found == kColumns.end() ? -1 : static_cast<int>(found - kColumns.begin());
}

TSortKey TextSortKey(std::string_view text) {
    TSortKey key;
    key.Longer = text.size() > 16;
    for (size_t i = 0; i < 16; ++i) {
        const auto byte = i < text.size() ? static_cast<unsigned char>(AsciiLower(text[i])) : 0u;
        uint64_t& half = i < 8 ? key.High : key.Low;
        half = half << 8 | byte;
    }
    return key;
}

int CompareLongerTexts(std::string_view a, std::string_view b) {
    const size_t common = std::min(a.size(), b.size());
    for (size_t i = 0; i < common; ++i) {
        const auto x = static_cast<unsigned char>(AsciiLower(a[i]));
        const auto y = static_cast<unsigned char>(AsciiLower(b[i]));
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

}  // namespace tarnwick
