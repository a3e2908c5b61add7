#include "formatting.h"

#include <charconv>
#include <cstdio>
#include <ctime>

namespace arbel {
namespace {
std::string twoDigits(uint64_t value) {
    std::string text = std::to_string(value);
    return text.size() == 1 ? "0" + text : text;
}
}  // namespace

std::string getTimeFormStringForInterval(double seconds) {
    if (!(seconds > 0)) seconds = 0;  // negative and NaN show as zero
    const uint64_t whole = seconds >= 1.8e19 ? UINT64_MAX : static_cast<uint64_t>(seconds);
    const uint64_t totalMinutes = whole / 60;
    const uint64_t s = whole % 60;
    const uint64_t m = totalMinutes % 60;
    const uint64_t h = (totalMinutes / 60) % 24;
    return twoDigits(h) + ":" + twoDigits(m) + ":" + twoDigits(s);
}

std::string getFormattedStringForSize(uint64_t bytes) {
    const float n = static_cast<float>(bytes);
    char text[64];
    if (bytes < 1000000ULL)
        std::snprintf(text, sizeof text, "%.2f KB", static_cast<double>(n / 1000.0f));
    else if (bytes < 1000000000ULL)
        std::snprintf(text, sizeof text, "%.2f MB", static_cast<double>(n / 1000000.0f));
    else
        std::snprintf(text, sizeof text, "%.2f GB", static_cast<double>(n / 1000000000.0f));
    return text;
}

std::string formatPercent(double progress) {
    char text[64];
    auto result = std::to_chars(text, text + sizeof text - 1, progress);
    *result.ptr = '\0';
    return std::string(text) + "%";
}

std::string formatClockTime(std::int64_t unixSeconds) {
    std::time_t t = static_cast<std::time_t>(unixSeconds);
    std::tm local {};
    localtime_r(&t, &local);
    char text[16];
    std::strftime(text, sizeof text, "%H:%M:%S", &local);
    return text;
}

bool RepairClock::tick(bool paused, bool stopRequestedForClock) {
    if (paused) return true;
    counterr_ += 1.0;
    return !stopRequestedForClock;
}

}  // namespace arbel
