// The repair operation: the stages of a QuickTime-family repair in order.
#include "repair_file.h"

#include "engine/result_location.h"
#include "platform/file_system.h"
#include "repaired_file_writer.h"
#include "scan_skeleton.h"

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

}  // namespace

RepairReport RepairFile::repairMOV() {
    RepairReport report = run();
    report.container = "quicktime";
    report.video.codec = analysis.videoCodecText;
    report.audio.codec = analysis.audioCodecText;
    report.video.units = tables.sample_count();
    report.video.bytes = tables.Sum_video;
    report.audio.units = tables.Avc_audioCount();
    report.audio.bytes = tables.sum_audio;
    report.resultPath = result.temporaryResultPath;
    if (report.completed()) report.resultSize = fs::fileSize(report.resultPath).value_or(0);
    // Whatever a stage was doing when the user stopped, the repair was stopped.
    if (!report.completed() && request_.control->stopRequested()) report.outcome = RepairOutcome::Stopped;
    return report;
}

RepairReport RepairFile::run() {
    RepairReport report;
    analysis = ReferenceAnalysis{};
    templates = ReferenceTemplates{};
    tables = SampleTables{};
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
    switch (analysis.decideScanPath()) {
    case ScanPath::Refuse:
        result.outputfile.close();
        ctx.refuse("neither H.264 nor MJPEG video was recognised in the reference", 2.0);
        return report;
    case ScanPath::Mjpeg:
        if (runMjpegScan(ctx, analysis, templates, tables, result))
            finishMjpegPath(ctx, analysis, templates, tables, result);
        return report;
    case ScanPath::Variant:
        if (runVariantScan(ctx, analysis, templates, tables, result))
            finishGeneralPath(ctx, analysis, templates, tables, result);
        return report;
    }
    return report;
}

}  // namespace arbel
