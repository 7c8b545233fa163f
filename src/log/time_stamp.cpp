#include "log/time_stamp.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>

namespace tarnwick {

std::string FormatTimeStamp(const std::tm& local) {
    // %x: the locale's date representation; %X: its time representation, with seconds.
    const bool midnight = local.tm_hour == 0 && local.tm_min == 0 && local.tm_sec == 0;
    std::array<char, 128> buffer{};
    const size_t length = std::strftime(buffer.data(), buffer.size(), midnight ? "%x" : "%x %X", &local);
    return std::string(buffer.data(), length);
}

std::string TimeStamp(std::chrono::system_clock::time_point when) {
    // A refresh may log a hundred thousand lines within one second, all with
    // the same stamp: the last second's is formatted once.
    thread_local std::time_t lastSeconds = -1;
    thread_local std::string lastStamp;
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    if (seconds != lastSeconds) {
        std::tm local{};
        localtime_r(&seconds, &local);
        lastStamp = FormatTimeStamp(local);
        lastSeconds = seconds;
    }
    return lastStamp;
}

std::string FormatRfc3339(const std::tm& local, int milliseconds) {
    const long offsetMinutes = local.tm_gmtoff / 60;
    const long absMinutes = std::labs(offsetMinutes);
    std::array<char, 64> buffer{};
    const int length = std::snprintf(buffer.data(), buffer.size(), "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02ld:%02ld",
                                     local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                                     local.tm_min, local.tm_sec, milliseconds, offsetMinutes < 0 ? '-' : '+',
                                     absMinutes / 60, absMinutes % 60);
    return std::string(buffer.data(), static_cast<size_t>(std::max(length, 0)));
}

std::string Rfc3339Time(std::chrono::system_clock::time_point when) {
    // Whole seconds rounded down, so that a time before 1970 keeps a
    // millisecond part from 0 to 999.
    const auto seconds = std::chrono::floor<std::chrono::seconds>(when);
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(when - seconds).count();
    const std::time_t whole = std::chrono::system_clock::to_time_t(seconds);
    std::tm local{};
    localtime_r(&whole, &local);
    return FormatRfc3339(local, static_cast<int>(millis));
}

}  // namespace tarnwick
