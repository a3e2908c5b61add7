#include "progress_printer.h"

#include "app/progress/formatting.h"
#include "engine/engine_reporter.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace arbel::cli {

ProgressPrinter::ProgressPrinter(bool quiet)
    : quiet_(quiet), tty_(::isatty(STDERR_FILENO) != 0), color_(tty_ && !std::getenv("NO_COLOR")) {
    token_ = NotificationCenter::defaultCenter().addObserver(
        kProgressNotificationName,
        [this](const std::string&, const NotifDict& info) { onNotification(info); });
}

ProgressPrinter::~ProgressPrinter() {
    NotificationCenter::defaultCenter().removeObserver(token_);
    finish();
}

void ProgressPrinter::finish() {
    if (lineOpen_) std::fputc('\n', stderr);
    lineOpen_ = false;
}

std::string ProgressPrinter::failureText() const {
    return failure_.empty() ? std::string(kCannotRepairText) : failure_;
}

void ProgressPrinter::onNotification(const NotifDict& info) {
    // Same precedence as the window: a status wins over every other key.
    if (auto status = notifString(info, "status")) {
        const double progress = notifNumber(info, "progress").value_or(0);
        if (progress == 100) completed_ = !failed_;
        if (progress > 100) {
            failed_ = true;
            completed_ = false;
            failure_ = *status;
        }
        if (*status == lastStatus_ && progress == lastProgress_) return;
        lastStatus_ = *status;
        lastProgress_ = progress;
        if (quiet_) return;
        const std::string percent = formatPercent(progress);
        if (tty_) {
            const char* on = color_ ? (progress > 100 ? "\033[31m" : "\033[36m") : "";
            const char* off = color_ ? "\033[0m" : "";
            std::fprintf(stderr, "\r\033[K%s[%5s]%s %s", on, percent.c_str(), off, status->c_str());
            lineOpen_ = true;
        } else {
            std::fprintf(stderr, "[%5s] %s\n", percent.c_str(), status->c_str());
        }
        std::fflush(stderr);
        return;
    }
    if (auto failure = notifString(info, "unrepair")) {
        failed_ = true;
        completed_ = false;
        failure_ = *failure;
        return;
    }
    if (auto v = notifString(info, "track")) track = *v;
    else if (auto d = notifString(info, "duration")) duration = *d;
    else if (auto c = notifString(info, "video")) video = *c;
    else if (auto f = notifString(info, "fps")) fps = *f;
    else if (auto a = notifString(info, "audio")) audio = *a;
}

}  // namespace arbel::cli
