#pragma once

#include "engine/engine_reporter.h"
#include "engine/repair_request.h"
#include "platform/file_reader.h"

#include <cstdint>
#include <string>

namespace arbel {

// What every stage of one QuickTime repair works with: the two input files,
// where progress goes, the repair's stop and pause, and the report that the
// stages fill as they go. Stages get their other inputs and outputs as
// arguments of their own.
struct StageContext {
    const FileReader& reference;
    uint64_t referenceSize;
    const FileReader& damaged;
    uint64_t damagedSize;  // as chosen; a scan never reads past what the file holds
    const EngineReporter& reporter;
    const RepairControl& control;
    RepairReport& report;

    // A poll point: true when the repair must end now (the report then says so).
    bool stopped() {
        if (!control.poll()) return false;
        report.outcome = RepairOutcome::Stopped;
        return true;
    }
    bool stopRequested() const { return control.stopRequested(); }

    // Ends the repair with "Can not repair this file.." at 101.
    void refuse(const std::string& reason, double waitSeconds) {
        report.outcome = RepairOutcome::Refused;
        report.reason = reason;
        reporter.refused(reason, waitSeconds);
    }
    // Ends the repair with "Unsupported file format.." at 101.
    void unsupported(const std::string& reason, double waitSeconds) {
        report.outcome = RepairOutcome::Refused;
        report.reason = reason;
        reporter.unsupported(reason, waitSeconds);
    }
    // The result could not be written: a failure of this machine, not of the file.
    void fail(const std::string& reason, double waitSeconds) {
        report.outcome = RepairOutcome::Failed;
        report.reason = reason;
        reporter.refused(reason, waitSeconds);
    }
};

}  // namespace arbel
