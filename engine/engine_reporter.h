#pragma once

#include "progress/notification.h"

#include <string>

namespace arbel {

// How an engine speaks: it posts the progress notification and then waits
// the designed time (through the pacing policy) so that a person can read it.
class EngineReporter {
public:
    explicit EngineReporter(NotificationCenter* center = &NotificationCenter::defaultCenter())
        : center_(center) {}

    NotificationCenter* center() const { return center_; }

    void status(const std::string& text, double progress, double waitSeconds = 0) const;
    void value(const std::string& key, const std::string& text, double waitSeconds = 0) const;

    // The outcomes. A refusal's reason goes to the log; the window shows the
    // design's text.
    void completed(double waitSeconds = 0) const;
    void refused(const std::string& reason, double waitSeconds = 0) const;      // "Can not repair this file.."
    void unsupported(const std::string& reason, double waitSeconds = 0) const;  // "Unsupported file format.."
    // The AVI engine's shape of a refusal: the "unrepair" key.
    void unrepair(const std::string& reason, double waitSeconds = 0) const;

private:
    NotificationCenter* center_;
};

}  // namespace arbel
