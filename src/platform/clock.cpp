#include "platform/platform.h"

#include <chrono>

namespace vellum::platform {

UtcTime utcNow() {
    using namespace std::chrono;
    sys_seconds now = floor<seconds>(system_clock::now());
    sys_days today = floor<days>(now);
    year_month_day date(today);
    hh_mm_ss<seconds> time(now - today);
    return UtcTime{static_cast<int>(date.year()),           static_cast<int>(static_cast<unsigned>(date.month())),
                   static_cast<int>(static_cast<unsigned>(date.day())), static_cast<int>(time.hours().count()),
                   static_cast<int>(time.minutes().count()), static_cast<int>(time.seconds().count())};
}

}  // namespace vellum::platform
