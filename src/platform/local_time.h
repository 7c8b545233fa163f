// The system's local time zone.
#pragma once

#include <ctime>

namespace tarnwick {

// `when` as broken-down local time. Thread-safe.
std::tm LocalTimeOf(std::time_t when);

}  // namespace tarnwick
