#include "log/time_stamp.h"

#include <array>

namespace tarnwick {

std::string FormatTimeStamp(const std::tm& local) {
    // %x: the locale's date representation; %X: its time representation, with seconds.
    const bool midnight = local.tm_hour == 0 && local.tm_min == 0 && local.tm_sec == 0;
    std::array<char, 128> buffer{};
    const size_t length = std::strftime(buffer.data(), buffer.size(), midnight ? "%x" : "%x %X", &local);
    return std::string(buffer.data(), length);
}

std::string TimeStamp(std::chrono::system_clock::time_point when) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    std::tm local{};
    localtime_r(&seconds, &local);
    return FormatTimeStamp(local);
}

}  // namespace tarnwick
