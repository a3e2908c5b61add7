#pragma once

#include "progress/notification.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace arbel {

// Stop and pause of one repair. The front end sets them; the engine polls
// them at its poll points. Nothing else passes between the two threads.
class RepairControl {
public:
    virtual ~RepairControl() = default;

    void requestStop();
    // The same from a signal handler: only the flag, no wake-up (which would
    // take a lock). Engines see it at their next poll point.
    void requestStopFromSignal() { stop_.store(true, std::memory_order_relaxed); }
    bool stopRequested() const { return stop_.load(std::memory_order_relaxed); }

    // Releasing a pause (or stopping) wakes a paused engine at once.
    void setPaused(bool paused);
    bool paused() const { return pause_.load(std::memory_order_relaxed); }

    // An engine's poll point: true when the repair must end now. While the
    // repair is paused it sleeps a second at a time and looks again.
    // (Virtual so that a test can stop a repair at any chosen poll point.)
    virtual bool poll() const;

private:
    std::atomic<bool> stop_{false};
    std::atomic<bool> pause_{false};
};

// Everything an engine needs to repair one file, decided by the front end.
struct RepairRequest {
    std::string damagedPath;
    uint64_t damagedSize = 0;
    std::string referencePath;   // QuickTime family only
    uint64_t referenceSize = 0;
    // Where the result goes; empty: the hidden temporary result of the
    // bundle identifier's product folder.
    std::string resultPath;
    // The result must be a new file: nothing at resultPath is opened,
    // followed or truncated, and no folder is made for it. Otherwise it is
    // the program's own file, replaced (never through a symbolic link).
    bool resultMustBeNew = false;
    std::string bundleIdentifier;
    std::shared_ptr<RepairControl> control = std::make_shared<RepairControl>();
    // Where the progress notifications go.
    NotificationCenter* center = &NotificationCenter::defaultCenter();
    // Bytes read in place of the files (the fuzz targets read no file);
    // they must outlive the engine.
    std::optional<std::span<const uint8_t>> damagedBytes;
    std::optional<std::span<const uint8_t>> referenceBytes;

    // A request for these files with their sizes as the file system gives
    // them (symbolic links followed; 0 for a file that is not there).
    static RepairRequest forFiles(const std::string& damaged, const std::string& reference = {});
    // A request over bytes in memory, sizes as they are.
    static RepairRequest forBytes(std::span<const uint8_t> damaged, std::span<const uint8_t> reference = {});
};

class FileReader;
// Opens what a request names: its bytes when it has them, else the file.
bool openSource(FileReader& reader, const std::string& path, const std::optional<std::span<const uint8_t>>& bytes);

enum class RepairOutcome {
    Completed,  // the result is complete and describes what was recovered
    Refused,    // the files cannot be repaired (reason says why)
    Stopped,    // the user stopped the repair
    Failed,     // the result could not be written (reason says why)
};

const char* outcomeName(RepairOutcome outcome);

// One track of the result as the engine recovered it.
struct TrackReport {
    std::string codec;    // as reported under "video" / "audio" ("avc1", "mp4a", "MJPG")
    std::string format;   // AVI: the stream format's compression or format tag
    uint64_t units = 0;   // samples or chunks taken into the result
    uint64_t bytes = 0;
};

// What one repair did: the only thing a front end reads of an engine.
struct RepairReport {
    RepairOutcome outcome = RepairOutcome::Failed;
    std::string reason;          // refusals and failures
    std::string container;       // "quicktime" or "avi"
    TrackReport video;
    TrackReport audio;
    std::string fps;             // as posted under "fps" (empty when not reported)
    std::string duration;        // as posted under "duration", "h:m:s"
    int tracks = 0;
    std::string scan;            // the scan taken, in words ("camera variant 7")
    std::string scanMarker;      // its marker in the log ("7", "MJPEG")
    std::string resultPath;
    uint64_t resultSize = 0;

    bool completed() const { return outcome == RepairOutcome::Completed; }
};

}  // namespace arbel
