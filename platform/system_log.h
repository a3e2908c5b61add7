#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace arbel {

// Diagnostic lines, without levels or categories. The desktop program sends
// them to syslog, the command line to stderr when asked to be verbose; by
// default they are dropped.
class SystemLog {
public:
    using Sink = std::function<void(std::string_view)>;

    // Installs the sink. Call before any worker starts.
    static void setSink(Sink sink);
    static void useSyslog(const char* ident);
    static void useStderr();
    static void silence();

    static void write(std::string_view line);
};

// printf-style convenience for the engines' log lines.
void systemLogf(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace arbel
