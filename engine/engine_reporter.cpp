#include "engine_reporter.h"

#include "platform/pacing.h"
#include "platform/system_log.h"

namespace arbel {

void EngineReporter::status(const std::string& text, double progress, double waitSeconds) const {
    if (center_) center_->post(kProgressNotificationName, progress::status(text, progress));
    Pacing::wait(waitSeconds);
}

void EngineReporter::value(const std::string& key, const std::string& text, double waitSeconds) const {
    if (center_) center_->post(kProgressNotificationName, progress::single(key, text));
    Pacing::wait(waitSeconds);
}

void EngineReporter::completed(double waitSeconds) const { status(kCompletedText, kProgressCompleted, waitSeconds); }

void EngineReporter::refused(const std::string& reason, double waitSeconds) const {
    if (!reason.empty()) SystemLog::write("Can not repair: " + reason);
    status(kCannotRepairText, kProgressFailed, waitSeconds);
}

void EngineReporter::unsupported(const std::string& reason, double waitSeconds) const {
    if (!reason.empty()) SystemLog::write(reason);
    status(kUnsupportedText, kProgressFailed, waitSeconds);
}

void EngineReporter::unrepair(const std::string& reason, double waitSeconds) const {
    if (!reason.empty()) SystemLog::write(reason);
    if (center_) center_->post(kProgressNotificationName, progress::unrepair(kCannotRepairText, kProgressFailed));
    Pacing::wait(waitSeconds);
}

}  // namespace arbel
