#pragma once

#include "engine/engine_reporter.h"
#include "platform/file_reader.h"

#include <atomic>
#include <cstdint>
#include <string>

namespace arbel {

// The AVI repair engine: no reference is needed. One object serves one repair.
class RepairFileAvi {
public:
    RepairFileAvi();
    ~RepairFileAvi();
    RepairFileAvi(const RepairFileAvi&) = delete;
    RepairFileAvi& operator=(const RepairFileAvi&) = delete;

    // Little-endian, unsigned (the QuickTime engine's reader is big-endian).
    static uint64_t fourByteRead(const uint8_t* bytes);

    // True when an AVI structure code occurs in the first 10 KiB.
    bool fileValidityCheck();

    // The repair (worker thread).
    void retrieveAudioVideoSamples();

    void setPauseRepairingAVI(bool pause);
    bool pauseRepairingAVI() const { return pauseRepairingAVI_.load(std::memory_order_relaxed); }

    void setNotificationCenter(NotificationCenter* center) { reporter.setCenter(center); }

    // Session values copied when the engine is made.
    std::string corruptFilePath;
    uint64_t corruptFileSizeCopy = 0;

    FileReader inputfilehandle;
    bool validitycheck = false;
    bool db = false;
    uint32_t buffersize = 1024;
    uint32_t mod = 0;
    uint64_t numberofsectors = 0;
    uint64_t sector = 0;

    bool audiocodecfound = false;
    bool videocodecfound = false;
    bool audiostrfcodecfound = false;
    bool videostrfcodecfound = false;
    bool avihscaleratedatafound = false;

    EngineReporter reporter;

    // When set, the result is written here instead of the hidden temporary
    // file of the product folder (the command line writes NAME.partial
    // beside the destination and renames it when the repair completes).
    std::string resultPathOverride;

private:
    std::atomic<bool> pauseRepairingAVI_{false};
};

}  // namespace arbel
