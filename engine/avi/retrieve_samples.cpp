// The repair operation of the AVI engine: header pass, chunk scan, writer.
#include "repair_file_avi.h"

#include "audio_format_tag.h"
#include "engine/result_location.h"
#include "platform/file_system.h"
#include "platform/system_log.h"

#include <cstdio>

namespace arbel {

void RepairFileAvi::refuseRepair(RepairOutcome outcome, const std::string& reason) {
    report_.outcome = outcome;
    report_.reason = reason;
    // After a user stop the controller has already gone home: no outcome.
    if (stopRequested()) {
        report_.outcome = RepairOutcome::Stopped;
        return;
    }
    reporter_.unrepair(reason);
}

std::string RepairFileAvi::resultPath() const {
    if (!request_.resultPath.empty()) return request_.resultPath;
    return temporaryResultPath(kArbelBundleIdentifier, ResultKind::Avi);
}

RepairReport RepairFileAvi::retrieveAudioVideoSamples() {
    report_ = RepairReport{};
    report_.container = "avi";
    report_.resultPath = resultPath();
    SystemLog::write("Audio video samples called");
    if (!openSource(inputfilehandle, request_.damagedPath, request_.damagedBytes)) SystemLog::write("The damaged file could not be opened");

    videosamplecount = audiosamplecount = videosamplesize = 0;
    videosamplesizearray.assign(1, 0);
    videosampleoffsetarray.assign(1, 0);
    audiosamplesizearray.assign(1, 0);
    audiosampleoffsetarray.assign(1, 0);
    videotablefull = audiotablefull = false;

    sector = 1;
    buffersize = 1024;
    mod = static_cast<uint32_t>(corruptFileSizeCopy % buffersize);
    numberofsectors = corruptFileSizeCopy / buffersize + (mod != 0 ? 1 : 0);
    if (corruptFileSizeCopy <= buffersize) numberofsectors = 1;

    if (!stopRequested()) readStreamHeaders();
    if (!streamHeadersUsable()) {
        refuseRepair(RepairOutcome::Refused, "no usable main and stream headers in the first 50 KiB");
    } else {
        reporter_.status(kLocatingText, 50.0);
        if (!stopRequested()) scanForChunks();
        constructRIFFList();
    }

    report_.video.codec = videocodecstring;
    report_.video.format = codecText(videostrfcodecdata);
    report_.audio.codec = AVIaudiocodecstring;
    if (audiostrfdata.size() >= 2) {
        const auto formatTag = static_cast<uint16_t>(audiostrfdata[0] | (audiostrfdata[1] << 8));
        char tag[16];
        std::snprintf(tag, sizeof tag, "0x%04x", static_cast<unsigned>(formatTag));
        report_.audio.format = tag;
        // The stream header's handler code rarely names an audio codec (it
        // often holds the tag itself); the report names the tag instead.
        if (const std::string name = audioFormatTagName(formatTag); !name.empty()) report_.audio.codec = name;
    }
    report_.video.units = videosamplecount;
    report_.video.bytes = videodatasize;
    report_.audio.units = audiosamplecount;
    report_.audio.bytes = audiodatasize;
    report_.scan = "chunk scan";
    report_.scanMarker = "chunks";
    if (report_.completed()) {
        report_.tracks = 2;
        report_.resultSize = fs::fileSize(report_.resultPath).value_or(0);
        if (request_.verify) {
            const RepairControl& control = *request_.control;
            report_.playback = codec::checkPlayback(report_.resultPath, [&control] { return control.poll(); });
        }
    }
    return report_;
}

}  // namespace arbel
