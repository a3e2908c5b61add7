#pragma once

#include "app/progress/notification.h"

#include <string>

namespace arbel {

// How an engine speaks: it posts the progress notification and then waits
// the designed time (through the pacing policy) so that a person can read it.
class EngineReporter {
public:
    explicit EngineReporter(NotificationCenter* center = &NotificationCenter::defaultCenter())
        : center_(center) {}

    void setCenter(NotificationCenter* center) { center_ = center; }
    NotificationCenter* center() const { return center_; }

    void status(const std::string& text, double progress, double waitSeconds = 0) const;
    void unrepair(const std::string& text, double progress, double waitSeconds = 0) const;
    void value(const std::string& key, const std::string& text, double waitSeconds = 0) const;

private:
    NotificationCenter* center_;
};

inline constexpr const char* kAnalyzingText = "Analyzing the file..";
inline constexpr const char* kLocatingText = "Locating audio / video data forks..";
inline constexpr const char* kRepairingText = "Repairing the file..";
inline constexpr const char* kCompletedText = "Repair completed.";
inline constexpr const char* kCannotRepairText = "Can not repair this file..";
inline constexpr const char* kUnsupportedText = "Unsupported file format..";

}  // namespace arbel
