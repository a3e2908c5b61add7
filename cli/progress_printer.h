#pragma once

#include "progress/notification.h"

#include <string>

namespace arbel::cli {

// Shows the progress notifications of one repair as a line on stderr (one
// line per change when stderr is not a terminal). What the repair found is
// read from its report, not from here.
class ProgressPrinter {
public:
    ProgressPrinter(NotificationCenter& center, bool quiet);
    ~ProgressPrinter();
    ProgressPrinter(const ProgressPrinter&) = delete;
    ProgressPrinter& operator=(const ProgressPrinter&) = delete;

    // Ends an open progress line.
    void finish();

private:
    void onNotification(const NotifDict& info);

    NotificationCenter& center_;
    NotificationCenter::Token token_ = 0;
    bool quiet_;
    bool tty_;
    bool color_;
    std::string lastStatus_;
    double lastProgress_ = -1;
    bool lineOpen_ = false;
};

}  // namespace arbel::cli
