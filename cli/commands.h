#pragma once

#include "options.h"

namespace arbel::cli {

int runCheck(const Options& options);
int runRepair(const Options& options);

}  // namespace arbel::cli
