#pragma once

#include "engine/engine_reporter.h"
#include "engine/repair_request.h"
#include "codec_scan.h"
#include "platform/file_reader.h"
#include "reference_analysis.h"
#include "reference_model.h"
#include "reference_templates.h"
#include "result_file.h"
#include "sample_tables.h"

#include <cstdint>
#include <string>

namespace arbel {

// The QuickTime-family repair engine. One object serves one repair: it is
// made from a request, the two validity checks run on the main thread, and
// repairMOV() runs on a worker thread and returns the report. While it runs
// it speaks only through the progress notification. The stages, one source
// file each, pass their products explicitly:
//
//   validity_checks.cpp       byte readers, the two checks
//   reference_analysis.cpp    signature walk, model names, tail scan, codec,
//                             NAL tag and audio signature decisions, path choice
//                                 -> ReferenceAnalysis
//   reference_templates.cpp   the header atoms taken from the reference
//                                 -> ReferenceTemplates
//   media_scan.cpp, scan_*.cpp, mjpeg_scan.cpp
//                             the camera scans of the damaged file ->
//                             SampleTables, with the units copied into the ResultFile
//   reference_model.cpp, codec_scan.cpp, codec_movie_atom.cpp
//                             the codec-aware scan where the camera rules fit
//                             no row or recover too little -> CodecTables
//   movie_timing.cpp          durations and rates
//   movie_atom.cpp            the new movie atom
//   repaired_file_writer.cpp  the final phase and its reports
//   repair_mov.cpp            the stages in order
class RepairFile {
public:
    explicit RepairFile(RepairRequest request);
    ~RepairFile();
    RepairFile(const RepairFile&) = delete;
    RepairFile& operator=(const RepairFile&) = delete;

    // --- small services -------------------------------------------------
    static uint16_t twoByteRead(const uint8_t* bytes);
    static uint64_t fourByteRead(const uint8_t* bytes);
    static int64_t eightByteRead(const uint8_t* bytes);

    void setPauseRepairing(bool pause) { request_.control->setPaused(pause); }
    bool pauseRepairing() const { return request_.control->paused(); }
    const RepairRequest& request() const { return request_; }
    // How this engine speaks (for front ends and tests that script one).
    const EngineReporter& reporter() const { return reporter_; }

    // --- checks (main thread) ---------------------------------------------
    // The reference must hold both a "moov" and an "mdat" atom header.
    bool referencefileValidityCheck();
    // The damaged file must hold "ftyp", "moov" or "mdat" somewhere.
    bool corruptedfileValidityCheck();

    // --- the repair (worker thread) ---------------------------------------
    RepairReport repairMOV();

private:
    RepairReport run();
    // The two endings after the camera scan, and the codec-aware scan into
    // the result (or into a second file, when the camera scan's is kept aside).
    void finishCamera(StageContext& ctx, bool mjpeg);
    void repairCodecAware(StageContext& ctx, bool cameraRan, bool mjpeg);

    // What each stage makes, handed on to the next.
    ReferenceAnalysis analysis;
    ReferenceTemplates templates;
    SampleTables tables;
    ResultFile result;
    ReferenceModel model;
    CodecTables codecTables;
    bool codecAwareKept = false;

    RepairRequest request_;
    EngineReporter reporter_;
    FileReader inputfilehandle;       // the damaged file
    FileReader referencefilehandle;   // the reference
};

}  // namespace arbel
