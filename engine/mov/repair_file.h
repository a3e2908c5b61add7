#pragma once

#include "engine/engine_reporter.h"
#include "platform/file_reader.h"

#include <atomic>
#include <cstdint>
#include <string>

namespace arbel {

// The QuickTime-family repair engine. One object serves one repair: the
// controller creates it, runs the two validity checks on the main thread and
// then repairMOV() on a worker thread. It reports only through the progress
// notification.
class RepairFile {
public:
    RepairFile();
    ~RepairFile();
    RepairFile(const RepairFile&) = delete;
    RepairFile& operator=(const RepairFile&) = delete;

    // --- small services -------------------------------------------------
    static uint16_t twoByteRead(const uint8_t* bytes);
    static uint64_t fourByteRead(const uint8_t* bytes);
    static int64_t eightByteRead(const uint8_t* bytes);

    void setBundleIdentifierString(const std::string& identifier) { bundleIdentifierString_ = identifier; }
    const std::string& bundleIdentifierString() const { return bundleIdentifierString_; }

    void setPauseRepairing(bool pause);
    bool pauseRepairing() const { return pauseRepairing_.load(std::memory_order_relaxed); }

    // Where the engine's notifications go (the default centre unless a test
    // or front end says otherwise).
    void setNotificationCenter(NotificationCenter* center) { reporter.setCenter(center); }

    // --- checks (main thread) ---------------------------------------------
    // The reference must hold both a "moov" and an "mdat" atom header.
    bool referencefileValidityCheck();
    // The damaged file must hold "ftyp", "moov" or "mdat" somewhere.
    bool corruptedfileValidityCheck();

    // --- the repair (worker thread) ---------------------------------------
    void repairMOV();

    // --- state of the checks ----------------------------------------------
    // Copies of the session values taken when the engine is made, so that a
    // worker never reads a path the main thread is changing.
    std::string corruptFilePath;
    uint64_t corruptFileSize = 0;
    std::string referenceFilePath;
    uint64_t referenceFileSize = 0;

    FileReader inputfilehandle;
    FileReader referencefilehandle;
    bool validitycheck = false;
    uint32_t mod = 0;
    uint32_t sector = 0;
    uint64_t currentoffset = 0;
    bool moovatomfound = false;
    bool mdatatomfound = false;

    EngineReporter reporter;

    // When set, the result is written here instead of the hidden temporary
    // file of the product folder (the command line writes NAME.partial
    // beside the destination and renames it when the repair completes).
    std::string resultPathOverride;

private:
    std::string bundleIdentifierString_;
    std::atomic<bool> pauseRepairing_{false};
};

}  // namespace arbel
