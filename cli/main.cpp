#include "build_info.h"
#include "commands.h"
#include "options.h"
#include "platform/pacing.h"
#include "platform/system_log.h"

#include <cstdio>

int main(int argc, char** argv) {
    using namespace arbel;
    // Headless: nobody reads the statuses, so no wait is needed between them.
    Pacing::setMode(Pacing::Mode::Zero);

    std::string error;
    auto options = cli::parseOptions(argc, argv, error);
    if (!options) {
        std::fprintf(stderr, "arbel-repair: %s\n%s", error.c_str(), cli::usageText());
        return cli::kExitUsage;
    }
    if (options->command == "help") {
        std::fputs(cli::usageText(), stdout);
        return cli::kExitOk;
    }
    if (options->command == "version") {
        std::printf("arbel-repair %s\n", build::kVersion);
        return cli::kExitOk;
    }
    if (options->verbose) SystemLog::useStderr();
    else SystemLog::silence();
    return options->command == "check" ? cli::runCheck(*options) : cli::runRepair(*options);
}
