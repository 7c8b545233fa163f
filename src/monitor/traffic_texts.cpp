#include "monitor/traffic_texts.h"

#include <cfloat>
#include <charconv>
#include <cmath>

namespace tarnwick {

namespace {

constexpr std::array<const char*, 7> kUnits{"B", "KB", "MB", "GB", "TB", "PB", "EB"};

std::string SizeText(double bytes) {
    if (!(bytes > 0)) bytes = 0;  // negative and NaN alike
    size_t unit = 0;
    // Rounded as printed, so 1023.96 KB reads "1.0 MB" rather than "1024 KB".
    while (unit + 1 < kUnits.size() && std::round(bytes) >= 1024) {
        bytes /= 1024;
        ++unit;
    }
    const int decimals = unit > 0 && std::round(bytes * 10) < 100 ? 1 : 0;
    // to_chars writes what printf's "%.*f" writes, digit for digit, at a
    // fraction of the cost: the grid's filter formats these for many rows.
    // Room for the largest double in whole bytes, which a rate may hold.
    char text[DBL_MAX_10_EXP + 8];
    std::string result(text, std::to_chars(text, text + sizeof text, bytes, std::chars_format::fixed, decimals).ptr);
    result += ' ';
    result += kUnits[unit];
    return result;
}

}  // namespace

std::string ByteSizeText(uint64_t bytes) { return SizeText(static_cast<double>(bytes)); }

std::string ByteRateText(double bytesPerSecond) { return SizeText(bytesPerSecond) + "/s"; }

std::string TrafficCellText(const std::optional<TConnectionTraffic>& traffic, int column, TTrafficNumbers numbers) {
    if (!traffic) return "-";
    const bool human = numbers == TTrafficNumbers::Human;
    if (column == 0 || column == 1) {
        const uint64_t bytes = column == 0 ? traffic->BytesSent : traffic->BytesReceived;
        return human ? ByteSizeText(bytes) : std::to_string(bytes);
    }
    const std::optional<double>& rate = column == 2 ? traffic->SendRate : traffic->ReceiveRate;
    if (!rate) return "-";
    return human ? ByteRateText(*rate) : std::to_string(std::llround(*rate > 0 ? *rate : 0));
}

}  // namespace tarnwick
