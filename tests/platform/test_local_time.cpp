// The zone offset of the machines' time stamps is worked out from the local
// time's fields; here it is held against the C library's tm_gmtoff, in zones
// east and west of UTC, with and without summer time.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <time.h>

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>

#include "log/time_stamp.h"

namespace tarnwick {
namespace {

class TZoneSetting {
public:
    explicit TZoneSetting(const char* zone) {
        if (const char* old = getenv("TZ")) Old_ = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~TZoneSetting() {
        if (Old_) setenv("TZ", Old_->c_str(), 1);
        else unsetenv("TZ");
        tzset();
    }

private:
    std::optional<std::string> Old_;
};

std::string LibraryOffset(std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    const long minutes = local.tm_gmtoff / 60;
    char text[32];
    std::snprintf(text, sizeof text, "%c%02ld:%02ld", minutes < 0 ? '-' : '+', labs(minutes) / 60, labs(minutes) % 60);
    return text;
}

TEST(Rfc3339Offset, IsTheZonesOffsetAtThatMoment) {
    for (const char* zone : {"UTC0", "IST-5:30", "NST3:30NDT,M3.2.0,M11.1.0", "NZST-12NZDT,M9.5.0,M4.1.0/3"}) {
        const TZoneSetting setting(zone);
        // Winter and summer, a year's first and last moments, and before 1970.
        for (std::time_t when : {std::time_t{1767225599}, std::time_t{1767225600}, std::time_t{1751328000},
                                 std::time_t{-86400 * 400}, std::time_t{0}}) {
            const std::string stamp = Rfc3339Time(std::chrono::system_clock::from_time_t(when));
            EXPECT_EQ(stamp.substr(stamp.size() - 6), LibraryOffset(when)) << zone << " at " << when;
        }
    }
}

}  // namespace
}  // namespace tarnwick
