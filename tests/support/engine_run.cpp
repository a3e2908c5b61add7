#include "engine_run.h"

#include "progress/notification.h"
#include "engine/mov/repair_file.h"
#include "engine/result_location.h"
#include "support/temp_dir.h"

namespace arbel::test {

bool MovRepairOutcome::completed() const {
    return !statuses.empty() && statuses.back().first == kCompletedText && statuses.back().second == 100.0;
}

double MovRepairOutcome::lastProgress() const { return statuses.empty() ? 0.0 : statuses.back().second; }

std::string MovRepairOutcome::statusTrail() const {
    std::string trail;
    for (const auto& [text, progress] : statuses) trail += text + " (" + std::to_string(progress) + "); ";
    return trail;
}

MovRepairOutcome runMovRepair(const std::string& referencePath, const std::string& damagedPath) {
    MovRepairOutcome outcome;
    NotificationCenter center;
    center.addObserver(kProgressNotificationName, [&outcome](const std::string&, const NotifDict& info) {
        const auto progress = notifNumber(info, "progress");
        if (auto text = notifString(info, "status")) outcome.statuses.emplace_back(*text, progress.value_or(-1));
        else if (auto refusal = notifString(info, "unrepair"))
            outcome.statuses.emplace_back(*refusal, progress.value_or(-1));
        for (const auto& [key, value] : info)
            if (key != "status" && key != "unrepair" && key != "progress")
                if (auto text = notifString(info, key)) outcome.values[key] = *text;
    });

    const InputGuard inputs({referencePath, damagedPath});
    RepairRequest request = RepairRequest::forFiles(damagedPath, referencePath);
    request.center = &center;
    request.bundleIdentifier = kArbelBundleIdentifier;
    RepairFile engine(request);
    outcome.referenceAccepted = engine.referencefileValidityCheck();
    if (outcome.referenceAccepted) outcome.damagedAccepted = engine.corruptedfileValidityCheck();
    if (!outcome.ran()) return outcome;
    outcome.report = engine.repairMOV();
    inputs.expectUnchanged();
    outcome.resultPath = outcome.report.resultPath;
    if (outcome.completed()) logResultHash(outcome.resultPath);
    outcome.scanVariant = outcome.report.scanMarker;
    outcome.videoSamples = outcome.report.video.units;
    outcome.audioChunks = outcome.report.audio.units;
    return outcome;
}

}  // namespace arbel::test
