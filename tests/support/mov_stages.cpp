#include "mov_stages.h"

#include "engine/mov/repaired_file_writer.h"
#include "engine/mov/scan_skeleton.h"
#include "engine/result_location.h"
#include "platform/file_system.h"

namespace arbel::test {

void MovStages::open(const std::string& referencePath, const std::string& damagedPath) {
    referencefilehandle.open(referencePath);
    inputfilehandle.open(damagedPath);
    referenceFileSize = fs::fileSize(referencePath).value_or(0);
    corruptFileSize = fs::fileSize(damagedPath).value_or(0);
}

void MovStages::openBytes(std::span<const uint8_t> reference, std::span<const uint8_t> damaged) {
    referencefilehandle.openBytes(reference.data(), reference.size());
    inputfilehandle.openBytes(damaged.data(), damaged.size());
    referenceFileSize = reference.size();
    corruptFileSize = damaged.size();
}

StageContext MovStages::context() {
    return StageContext{referencefilehandle, referenceFileSize, inputfilehandle, corruptFileSize,
                        reporter,            *control,          report};
}

std::unique_ptr<MediaScanner> MovStages::makeScanner() {
    scannerContext_ = std::make_unique<StageContext>(context());
    return std::make_unique<MediaScanner>(*scannerContext_, analysis, templates, tables, result);
}

void MovStages::classifyNalTags() { arbel::classifyNalTags(referencefilehandle, templates, analysis); }

void MovStages::classifyAudioSignatures() {
    arbel::classifyAudioSignatures(referencefilehandle, inputfilehandle, templates, analysis);
}

bool MovStages::signatureWalk() {
    StageContext ctx = context();
    return arbel::signatureWalk(ctx, analysis);
}

bool MovStages::takeReferenceTemplates() {
    StageContext ctx = context();
    return arbel::takeReferenceTemplates(ctx, analysis, templates);
}

bool MovStages::createTemporaryResult(const std::string& path) {
    const std::string target = path.empty() ? temporaryResultPath(kArbelBundleIdentifier, ResultKind::Mov) : path;
    return result.create(target, templates.its_A_morethen_4GB_FILE || corruptFileSize + 16 >= 0xFFFFFFFFull);
}

bool MovStages::runVariantScan() {
    StageContext ctx = context();
    return arbel::runVariantScan(ctx, analysis, templates, tables, result);
}

bool MovStages::runMjpegScan() {
    StageContext ctx = context();
    return arbel::runMjpegScan(ctx, analysis, templates, tables, result);
}

bool MovStages::runFullFramePass() {
    StageContext ctx = context();
    return arbel::runFullFramePass(ctx, tables, result);
}

void MovStages::finishGeneralPath() {
    StageContext ctx = context();
    arbel::finishGeneralPath(ctx, analysis, templates, tables, result);
}

void MovStages::finishMjpegPath() {
    StageContext ctx = context();
    arbel::finishMjpegPath(ctx, analysis, templates, tables, result);
}

}  // namespace arbel::test
