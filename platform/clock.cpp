#include "clock.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace pagiro {

float timer_seconds() {
    using namespace std::chrono;
    auto now = system_clock::now();
    std::time_t t = system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&t, &local);
    double frac = duration<double>(now.time_since_epoch()).count();
    frac -= std::floor(frac);
    double secs = local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec + frac;
    return static_cast<float>(secs);
}

long elapsed_seconds(float start, float now) {
    double diff = static_cast<double>(now) - static_cast<double>(start);
    if (diff < 0) diff += 86400.0;
    return static_cast<long>(std::floor(diff));
}

std::string now_text() {
    std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%d/%d/%d %d:%02d:%02d", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                  local.tm_hour, local.tm_min, local.tm_sec);
    return buf;
}

}  // namespace pagiro
