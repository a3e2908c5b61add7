#include "system_log.h"

#include <cstdarg>
#include <cstdio>
#include <syslog.h>
#include <vector>

namespace arbel {
namespace {
SystemLog::Sink& sink() {
    static SystemLog::Sink s;
    return s;
}
}  // namespace

void SystemLog::setSink(Sink s) { sink() = std::move(s); }

void SystemLog::useSyslog(const char* ident) {
    openlog(ident, LOG_PID, LOG_USER);
    setSink([](std::string_view line) {
        syslog(LOG_NOTICE, "%.*s", static_cast<int>(line.size()), line.data());
    });
}

void SystemLog::useStderr() {
    setSink([](std::string_view line) {
        std::fprintf(stderr, "%.*s\n", static_cast<int>(line.size()), line.data());
    });
}

void SystemLog::silence() { setSink(nullptr); }

void SystemLog::write(std::string_view line) {
    if (sink()) sink()(line);
}

void systemLogf(const char* format, ...) {
    if (!sink()) return;
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (n > 0) {
        std::vector<char> text(static_cast<size_t>(n) + 1);
        std::vsnprintf(text.data(), text.size(), format, args);
        SystemLog::write(std::string_view(text.data(), static_cast<size_t>(n)));
    }
    va_end(args);
}

}  // namespace arbel
