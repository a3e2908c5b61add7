#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

namespace arbel {

// The values of one repair session that the controller sets and the engines
// read: which files were chosen, their sizes, and whether the user stopped
// the repair. There is one set per process.
struct RepairValues {
    std::optional<std::string> corruptFilePath;
    uint64_t corruptFileSize = 0;
    uint64_t corruptFileSizeCopy = 0;  // the same size, as the AVI engine reads it
    std::optional<std::string> referenceFilePath;
    uint64_t referenceFileSize = 0;
    uint8_t referenceFileChosen = 0;
    // Written by the main thread, polled by the engines' workers.
    std::atomic<uint8_t> stopRequested{0};
    std::string saveDestinationFolder;
};

RepairValues& repairValues();

// Back to the state at launch (used by tests and by each command-line run).
void resetRepairValues();

inline bool isStopRequested() {
    return repairValues().stopRequested.load(std::memory_order_relaxed) != 0;
}

// An engine's poll point: answers true when the repair must end now. While
// the engine's pause flag is set it sleeps a second at a time (waking at once
// on resume or stop) and looks again.
bool pollStopAndPause(const std::atomic<bool>& pauseFlag);

}  // namespace arbel
