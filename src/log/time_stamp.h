// Time stamps of log lines and report headings: the date in the user's short
// date format, a blank, the time in the user's time format with seconds. At
// exactly midnight (00:00:00) the date stands alone.
#pragma once

#include <chrono>
#include <ctime>
#include <string>

namespace tarnwick {

// Formats `local` (broken-down local time) with the C library's locale for
// dates and times (LC_TIME; programs call setlocale(LC_ALL, "") to follow the user).
std::string FormatTimeStamp(const std::tm& local);

// The stamp of `when` in the local time zone.
std::string TimeStamp(std::chrono::system_clock::time_point when);

// `when` for machines: RFC 3339 in the local time zone with milliseconds and
// the zone's offset, "2026-12-07T12:31:52.123+01:00" (UTC as "+00:00"),
// whatever the user's locale.
std::string Rfc3339Time(std::chrono::system_clock::time_point when);

// The same of broken-down local time `utcOffsetSeconds` ahead of UTC, plus
// `milliseconds` (0..999).
std::string FormatRfc3339(const std::tm& local, long utcOffsetSeconds, int milliseconds);

}  // namespace tarnwick
