#pragma once

#include "engine/repair_request.h"
#include "json_writer.h"

#include <string>
#include <vector>

namespace arbel::cli {

// The summary of a repair, read from its report alone: text lines for a
// person and the same facts as one JSON object (with its schema version).
inline constexpr int kJsonSchema = 1;

std::vector<std::string> summaryLines(const RepairReport& report);
JsonObject summaryJson(const RepairReport& report);

}  // namespace arbel::cli
