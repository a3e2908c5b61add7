#include "engine_reporter.h"

#include "platform/pacing.h"

namespace arbel {

void EngineReporter::status(const std::string& text, double progress, double waitSeconds) const {
    if (center_) center_->post(kProgressNotificationName, progress::status(text, progress));
    Pacing::wait(waitSeconds);
}

void EngineReporter::unrepair(const std::string& text, double progress, double waitSeconds) const {
    if (center_) center_->post(kProgressNotificationName, progress::unrepair(text, progress));
    Pacing::wait(waitSeconds);
}

void EngineReporter::value(const std::string& key, const std::string& text, double waitSeconds) const {
    if (center_) center_->post(kProgressNotificationName, progress::single(key, text));
    Pacing::wait(waitSeconds);
}

}  // namespace arbel
