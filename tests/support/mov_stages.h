#pragma once

#include "engine/engine_reporter.h"
#include "engine/mov/reference_analysis.h"
#include "engine/mov/reference_templates.h"
#include "engine/mov/result_file.h"
#include "engine/mov/sample_tables.h"
#include "engine/mov/stage_context.h"
#include "engine/repair_request.h"
#include "platform/file_reader.h"

#include <memory>
#include <span>
#include <string>

namespace arbel {
class MediaScanner;
}

namespace arbel::test {

// The stages of one QuickTime repair, driven one at a time the way
// repairMOV runs them, with their products open to the test. Made without
// files it serves the tests that only set products and call a decision.
class MovStages {
public:
    MovStages() = default;
    MovStages(const std::string& referencePath, const std::string& damagedPath) { open(referencePath, damagedPath); }

    // Opens both files; their sizes are taken as the file system gives them.
    void open(const std::string& referencePath, const std::string& damagedPath);
    // Reads these bytes as the two files (they must outlive the stages).
    void openBytes(std::span<const uint8_t> reference, std::span<const uint8_t> damaged);
    void setNotificationCenter(NotificationCenter* center) { reporter = EngineReporter(center); }
    void setPauseRepairing(bool pause) { control->setPaused(pause); }

    // A context over this object's files and report (valid while it lives).
    StageContext context();

    // A scanner over the stages' products, as the scans make it.
    std::unique_ptr<MediaScanner> makeScanner();

    bool signatureWalk();
    bool takeReferenceTemplates();
    void classifyNalTags();
    void classifyAudioSignatures();
    // The result at `path` (empty: the bundle's temporary result), sized as
    // repairMOV sizes it.
    bool createTemporaryResult(const std::string& path = {});
    bool runVariantScan();
    bool runMjpegScan();
    bool runFullFramePass();
    void finishGeneralPath();
    void finishMjpegPath();

    ReferenceAnalysis analysis;
    ReferenceTemplates templates;
    SampleTables tables;
    ResultFile result;
    RepairReport report;

    FileReader referencefilehandle;
    FileReader inputfilehandle;
    uint64_t referenceFileSize = 0;
    uint64_t corruptFileSize = 0;
    std::shared_ptr<RepairControl> control = std::make_shared<RepairControl>();
    EngineReporter reporter{nullptr};

private:
    std::unique_ptr<StageContext> scannerContext_;
};

}  // namespace arbel::test
