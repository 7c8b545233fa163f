#include "log/time_stamp.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>

#include "platform/local_time.h"

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
        lastStamp = FormatTimeStamp(LocalTimeOf(seconds));
        lastSeconds = seconds;
    }
    return lastStamp;
}

namespace {

// Days from 1970-01-01 to the date `year`-`month`-`day` of the proleptic
// Gregorian calendar (negative before it).
long long DaysFromCivil(long long year, unsigned month, unsigned day) {
    year -= month <= 2;
    const long long era = (year >= 0 ? year : year - 399) / 400;
    const unsigned yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<long long>(dayOfEra) - 719468;
}

// How far the local time `local` of the moment `when` is ahead of UTC, in
// seconds: the local fields read as if they were UTC, less the moment.
long UtcOffsetOf(const std::tm& local, std::time_t when) {
    const long long asUtc = DaysFromCivil(local.tm_year + 1900LL, static_cast<unsigned>(local.tm_mon + 1),
                                          static_cast<unsigned>(local.tm_mday)) * 86400 +
                            local.tm_hour * 3600LL + local.tm_min * 60LL + local.tm_sec;
    return static_cast<long>(asUtc - static_cast<long long>(when));
}

}  // namespace

std::string FormatRfc3339(const std::tm& local, long utcOffsetSeconds, int milliseconds) {
    const long offsetMinutes = utcOffsetSeconds / 60;
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
    const std::tm local = LocalTimeOf(whole);
    return FormatRfc3339(local, UtcOffsetOf(local, whole), static_cast<int>(millis));
}

}  // namespace tarnwick
