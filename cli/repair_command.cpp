// "repair": runs an engine headless and writes the result where the user asks.
#include "commands.h"

#include <cstdio>

namespace arbel::cli {

int runRepair(const Options&) {
    std::fprintf(stderr, "arbel-repair: repair is not available in this build yet\n");
    return kExitRefused;
}

}  // namespace arbel::cli
