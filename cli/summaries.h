#pragma once

#include "json_writer.h"
#include "progress_printer.h"

#include <string>
#include <vector>

namespace arbel::cli {

// What one engine run leaves for the report: text lines and the same facts
// as JSON.
struct RunOutcome {
    std::string refusal;  // set when a validity check refused the files
    std::vector<std::string> lines;
    JsonObject report;
};

// Each runs its engine to the end on this thread, writing the result to
// resultPath, and describes what it found.
RunOutcome runMovRepair(const std::string& resultPath, const ProgressPrinter& printer);
RunOutcome runAviRepair(const std::string& resultPath, const ProgressPrinter& printer);

}  // namespace arbel::cli
