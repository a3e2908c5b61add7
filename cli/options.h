#pragma once

#include "engine/repair_request.h"

#include <optional>
#include <string>

namespace arbel::cli {

enum ExitCode {
    kExitOk = 0,
    kExitRefused = 1,     // a check failed or the file could not be repaired
    kExitUsage = 2,       // the command line was wrong
    kExitIoError = 3,     // a file could not be read or written
    kExitInterrupted = 130,
};

struct Options {
    std::string command;  // "check", "repair", "help", "version"
    std::string damaged;
    std::optional<std::string> reference;
    std::optional<std::string> output;
    bool json = false;
    bool verbose = false;
    bool force = false;   // replace an existing output file
    ScanChoice scan = ScanChoice::Auto;  // --scan auto|camera|codec
    bool scanGiven = false;
    bool verify = false;  // decode the result and say what plays
};

std::optional<ScanChoice> scanChoiceNamed(const std::string& name);

// Parses argv; on a usage error fills `error` and returns nullopt.
std::optional<Options> parseOptions(int argc, char** argv, std::string& error);

const char* usageText();

}  // namespace arbel::cli
