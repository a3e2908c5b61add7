// The repair operation: the stages of a QuickTime-family repair in order.
#include "repair_file.h"

#include "engine/result_location.h"
#include "platform/file_system.h"
#include "platform/system_log.h"
#include "repaired_file_writer.h"
#include "scan_skeleton.h"

#include <cstdio>
#include <unistd.h>

namespace arbel {

namespace {

// The result file: where the request says, else the hidden temporary file.
bool createTemporaryResult(const RepairRequest& request, const ReferenceTemplates& templates, ResultFile& result) {
    const std::string path = request.resultPath.empty()
                                 ? temporaryResultPath(request.bundleIdentifier, ResultKind::Mov)
                                 : request.resultPath;
    // The 64-bit media-data header takes 16 bytes. Reserve them whenever that
    // form will be written, so the header never lands on media bytes.
    constexpr uint64_t k32BitLimit = 0xFFFFFFFFull;
    const bool wide = templates.its_A_morethen_4GB_FILE || request.damagedSize + 16 >= k32BitLimit;
    return result.create(path, wide, request.resultMustBeNew);
}

// A second result beside the first, made new for the codec-aware attempt
// and removed again unless it is kept: only files this repair made are removed.
class SecondResult {
public:
    explicit SecondResult(const std::string& first) {
        for (int attempt = 0; attempt < 100; ++attempt) {
            path_ = first + ".codec-" + std::to_string(::getpid()) + "-" + std::to_string(attempt);
            if (file.create(path_, false, true)) return;
        }
        path_.clear();
    }
    ~SecondResult() {
        if (path_.empty()) return;
        file.outputfile.close();
        std::remove(path_.c_str());
    }
    SecondResult(const SecondResult&) = delete;
    SecondResult& operator=(const SecondResult&) = delete;

    bool made() const { return !path_.empty(); }
    // Puts the second result in the first one's place.
    bool replace(const std::string& first) {
        if (std::rename(path_.c_str(), first.c_str()) != 0) return false;
        path_.clear();
        return true;
    }

    ResultFile file;

private:
    std::string path_;
};

}  // namespace

RepairReport RepairFile::repairMOV() {
    RepairReport report = run();
    report.container = "quicktime";
    report.video.codec = analysis.videoCodecText;
    report.audio.codec = analysis.audioCodecText;
    if (codecAwareKept) {
        report.video.units = codecTables.video.count();
        report.video.bytes = codecTables.video.bytes;
        report.audio.units = codecTables.audio.chunkStarts().size();
        report.audio.bytes = codecTables.audio.bytes;
    } else {
        report.video.units = tables.sample_count();
        report.video.bytes = tables.Sum_video;
        report.audio.units = tables.Avc_audioCount();
        report.audio.bytes = tables.sum_audio;
    }
    report.resultPath = result.temporaryResultPath;
    if (report.completed()) report.resultSize = fs::fileSize(report.resultPath).value_or(0);
    if (report.completed() && request_.verify) {
        const RepairControl& control = *request_.control;
        report.playback = codec::checkPlayback(report.resultPath, [&control] { return control.poll(); });
    }
    // Whatever a stage was doing when the user stopped, the repair was stopped.
    if (!report.completed() && request_.control->stopRequested()) report.outcome = RepairOutcome::Stopped;
    if (report.outcome == RepairOutcome::Stopped) result.discard();
    return report;
}

RepairReport RepairFile::run() {
    RepairReport report;
    analysis = ReferenceAnalysis{};
    templates = ReferenceTemplates{};
    tables = SampleTables{};
    codecTables = CodecTables{};
    codecAwareKept = false;
    openSource(referencefilehandle, request_.referencePath, request_.referenceBytes);
    openSource(inputfilehandle, request_.damagedPath, request_.damagedBytes);
    StageContext ctx{referencefilehandle, request_.referenceSize, inputfilehandle, request_.damagedSize,
                     reporter_, *request_.control, report};

    reporter_.status(kAnalyzingText, 1.0, 1.0);
    if (!signatureWalk(ctx, analysis)) return report;
    if (!takeReferenceTemplates(ctx, analysis, templates)) return report;

    if (!createTemporaryResult(request_, templates, result)) {
        ctx.fail("the result file could not be created: " + result.failureText(), 2.0);
        return report;
    }
    const ScanChoice choice = request_.scan;
    if (choice == ScanChoice::Codec) {
        repairCodecAware(ctx, false, false);
        return report;
    }

    // The camera rules first; where they fit no row the codec-aware scan may take over.
    bool cameraRan = false, mjpeg = false;
    switch (analysis.decideScanPath()) {
    case ScanPath::Refuse:
        if (choice == ScanChoice::Camera) {
            result.outputfile.close();
            ctx.refuse("neither H.264 nor MJPEG video was recognised in the reference", 2.0);
            return report;
        }
        break;
    case ScanPath::Mjpeg:
        if (!runMjpegScan(ctx, analysis, templates, tables, result)) return report;
        cameraRan = mjpeg = true;
        break;
    case ScanPath::Variant:
        if (choice == ScanChoice::Auto && !chooseScanVariant(analysis)) break;
        if (!runVariantScan(ctx, analysis, templates, tables, result)) return report;
        cameraRan = true;
        break;
    }
    if (choice == ScanChoice::Camera) {
        finishCamera(ctx, mjpeg);
        return report;
    }
    // Recordings the camera rules read well keep their result as it is.
    if (cameraRan && cameraCoversMedia(inputfilehandle, request_.damagedSize, tables.Sum_video + tables.sum_audio)) {
        finishCamera(ctx, mjpeg);
        return report;
    }
    repairCodecAware(ctx, cameraRan, mjpeg);
    return report;
}

void RepairFile::finishCamera(StageContext& ctx, bool mjpeg) {
    if (mjpeg) finishMjpegPath(ctx, analysis, templates, tables, result);
    else finishGeneralPath(ctx, analysis, templates, tables, result);
}

void RepairFile::repairCodecAware(StageContext& ctx, bool cameraRan, bool mjpeg) {
    std::string why;
    auto learned = learnReference(referencefilehandle, request_.referenceSize, why);
    if (!learned) {
        SystemLog::write(("No codec-aware scan: " + why).c_str());
        if (cameraRan) return finishCamera(ctx, mjpeg);
        result.outputfile.close();
        ctx.refuse(why, 2.0);
        return;
    }
    model = std::move(*learned);
    if (!cameraRan) {
        if (!runCodecAwareScan(ctx, analysis, templates, model, result, codecTables)) return;
        codecAwareKept = true;
        finishCodecAwarePath(ctx, model, codecTables, result);
        return;
    }

    // Both scans, each into its own file; the one that recovers more is kept.
    SecondResult second(result.temporaryResultPath);
    if (!second.made()) return finishCamera(ctx, mjpeg);
    const std::string cameraScan = ctx.report.scan, cameraMarker = ctx.report.scanMarker;
    if (!runCodecAwareScan(ctx, analysis, templates, model, second.file, codecTables)) return;
    const uint64_t cameraBytes = tables.Sum_video + tables.sum_audio;
    if (second.file.broken() || !codecAwareRecoversMore(cameraBytes, codecTables.recoveredBytes())) {
        ctx.report.scan = cameraScan;
        ctx.report.scanMarker = cameraMarker;
        return finishCamera(ctx, mjpeg);
    }
    SystemLog::write("The codec-aware scan recovers more; its result is kept");
    codecAwareKept = true;
    result.outputfile.close();
    finishCodecAwarePath(ctx, model, codecTables, second.file);
    if (ctx.report.completed() && !second.replace(result.temporaryResultPath))
        ctx.fail("the result file could not be put in place", 2.0);
}

}  // namespace arbel
