#pragma once

#include "app/progress/notification.h"

#include <string>

namespace arbel::cli {

// Watches the progress notifications of one repair: prints a progress line
// on stderr and keeps what the engine reported (codecs, rate, duration,
// tracks, the outcome) for the summary.
class ProgressPrinter {
public:
    explicit ProgressPrinter(bool quiet);
    ~ProgressPrinter();
    ProgressPrinter(const ProgressPrinter&) = delete;
    ProgressPrinter& operator=(const ProgressPrinter&) = delete;

    void finish();

    bool completed() const { return completed_; }
    std::string failureText() const;

    std::string video, audio, fps, duration, track;

private:
    void onNotification(const NotifDict& info);

    NotificationCenter::Token token_ = 0;
    bool quiet_;
    bool tty_;
    bool color_;
    bool completed_ = false;
    bool failed_ = false;
    std::string lastStatus_;
    double lastProgress_ = -1;
    std::string failure_;
    bool lineOpen_ = false;
};

}  // namespace arbel::cli
