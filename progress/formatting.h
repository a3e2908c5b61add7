#pragma once

#include <cstdint>
#include <string>

namespace arbel {

// Seconds as "HH:MM:SS"; whole days are dropped (24 hours wrap to 00).
std::string getTimeFormStringForInterval(double seconds);

// Bytes as a decimal size with two decimals: "512.00 KB", "1.05 MB", "6.00 GB".
// Computed in single precision, so 999,999 bytes read "1000.00 KB".
std::string getFormattedStringForSize(uint64_t bytes);

// The percentage text of the repair screen: the number's shortest decimal
// form and a percent sign (50.0 gives "50%").
std::string formatPercent(double progress);

// "HH:mm:ss" of the local wall clock at the given time.
std::string formatClockTime(std::int64_t unixSeconds);

// The repair clock: one tick a second, paused seconds not counted. It
// counts ticks rather than wall time, so the display moves by exactly one
// second a tick.
class RepairClock {
public:
    // One tick. Returns false when this tick is the last one (the clock was
    // told to stop); a paused tick counts nothing and keeps the clock alive.
    bool tick(bool paused, bool stopRequestedForClock);

    double counterr() const { return counterr_; }
    void setCounterr(double value) { counterr_ = value; }
    std::string display() const { return getTimeFormStringForInterval(counterr_); }

private:
    double counterr_ = 0;
};

}  // namespace arbel
