#include "repair_request.h"

#include "platform/file_reader.h"
#include "platform/file_system.h"
#include "platform/pacing.h"

namespace arbel {

void RepairControl::requestStop() {
    stop_.store(true, std::memory_order_relaxed);
    Pacing::wake();
}

void RepairControl::setPaused(bool paused) {
    pause_.store(paused, std::memory_order_relaxed);
    if (!paused) Pacing::wake();
}

bool RepairControl::poll() const {
    while (!stopRequested() && paused()) Pacing::pauseSleep();
    return stopRequested();
}

RepairRequest RepairRequest::forFiles(const std::string& damaged, const std::string& reference) {
    RepairRequest request;
    request.damagedPath = damaged;
    request.damagedSize = fs::fileSize(damaged).value_or(0);
    if (!reference.empty()) {
        request.referencePath = reference;
        request.referenceSize = fs::fileSize(reference).value_or(0);
    }
    return request;
}

RepairRequest RepairRequest::forBytes(std::span<const uint8_t> damaged, std::span<const uint8_t> reference) {
    RepairRequest request;
    request.damagedBytes = damaged;
    request.damagedSize = damaged.size();
    request.referenceBytes = reference;
    request.referenceSize = reference.size();
    return request;
}

bool openSource(FileReader& reader, const std::string& path, const std::optional<std::span<const uint8_t>>& bytes) {
    if (!bytes) return reader.open(path);
    reader.openBytes(bytes->data(), bytes->size());
    return true;
}

const char* outcomeName(RepairOutcome outcome) {
    switch (outcome) {
    case RepairOutcome::Completed: return "completed";
    case RepairOutcome::Refused: return "refused";
    case RepairOutcome::Stopped: return "stopped";
    case RepairOutcome::Failed: return "failed";
    }
    return "failed";
}

}  // namespace arbel
