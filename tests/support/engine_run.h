#pragma once

#include "engine/repair_request.h"

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace arbel::test {

// One QuickTime repair run the way the controller runs it: a request for
// the two files, both checks, then repairMOV on this thread, with every
// notification recorded. Pacing must already be zero.
struct MovRepairOutcome {
    bool referenceAccepted = false;
    bool damagedAccepted = false;
    std::vector<std::pair<std::string, double>> statuses;  // "status"/"unrepair" text and progress
    std::map<std::string, std::string> values;             // "video", "audio", "fps", "duration", "track"
    std::string resultPath;
    std::string scanVariant;
    uint64_t videoSamples = 0;
    uint64_t audioChunks = 0;
    RepairReport report;

    bool ran() const { return referenceAccepted && damagedAccepted; }
    // The last status: "Repair completed." at 100.
    bool completed() const;
    // The last progress reported (0 when none).
    double lastProgress() const;
    std::string statusTrail() const;
};

MovRepairOutcome runMovRepair(const std::string& referencePath, const std::string& damagedPath,
                              ScanChoice scan = ScanChoice::Auto, bool verify = false);

}  // namespace arbel::test
