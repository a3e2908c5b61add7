#pragma once

#include "codec_scan.h"
#include "reference_analysis.h"
#include "reference_templates.h"
#include "result_file.h"
#include "sample_tables.h"
#include "stage_context.h"

namespace arbel {

// The final phase after the scan: the media-data header rewritten, the
// frame rate, duration and tracks reported, the movie atom appended, the
// file closed and "Repair completed." said. Every other ending is a refusal
// (or silence after a stop), with the report saying which.
void finishGeneralPath(StageContext& ctx, const ReferenceAnalysis& analysis, const ReferenceTemplates& templates,
                       SampleTables& tables, ResultFile& result);
void finishMjpegPath(StageContext& ctx, const ReferenceAnalysis& analysis, const ReferenceTemplates& templates,
                     SampleTables& tables, ResultFile& result);

// The same after the codec-aware scan, with the reference's movie atom as
// the template.
void finishCodecAwarePath(StageContext& ctx, const ReferenceModel& model, const CodecTables& tables,
                          ResultFile& result);

// Full-size raw frames (the cameras whose tag pair is E1 5C) from where the
// scan ended. False: the user stopped.
bool runFullFramePass(StageContext& ctx, SampleTables& tables, ResultFile& result);

}  // namespace arbel
