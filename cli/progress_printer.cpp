#include "progress_printer.h"

#include "progress/formatting.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace arbel::cli {

ProgressPrinter::ProgressPrinter(NotificationCenter& center, bool quiet)
    : center_(center), quiet_(quiet), tty_(::isatty(STDERR_FILENO) != 0),
      color_(tty_ && !std::getenv("NO_COLOR")) {
    token_ = center_.addObserver(kProgressNotificationName,
                                 [this](const std::string&, const NotifDict& info) { onNotification(info); });
}

ProgressPrinter::~ProgressPrinter() {
    center_.removeObserver(token_);
    finish();
}

void ProgressPrinter::finish() {
    if (lineOpen_) std::fputc('\n', stderr);
    lineOpen_ = false;
}

void ProgressPrinter::onNotification(const NotifDict& info) {
    // A refusal of the "unrepair" shape is shown like a status.
    auto status = notifString(info, "status");
    if (!status) status = notifString(info, "unrepair");
    if (!status || quiet_) return;
    const double progress = notifNumber(info, "progress").value_or(0);
    // How a repair ended is said once, with its cause, by the command.
    if (progress > kProgressCompleted) return;
    if (*status == lastStatus_ && progress == lastProgress_) return;
    lastStatus_ = *status;
    lastProgress_ = progress;
    const std::string percent = formatPercent(progress);
    if (tty_) {
        const char* on = color_ ? "\033[36m" : "";
        const char* off = color_ ? "\033[0m" : "";
        std::fprintf(stderr, "\r\033[K%s[%5s]%s %s", on, percent.c_str(), off, status->c_str());
        lineOpen_ = true;
    } else {
        std::fprintf(stderr, "[%5s] %s\n", percent.c_str(), status->c_str());
    }
    std::fflush(stderr);
}

}  // namespace arbel::cli
