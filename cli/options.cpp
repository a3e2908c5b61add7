#include "options.h"

#include <cstring>

namespace arbel::cli {

const char* usageText() {
    return "Usage:\n"
           "  arbel-repair check  [--json] [--reference HEALTHY] DAMAGED\n"
           "  arbel-repair repair [--json] [--verbose] [--force] [--verify] [--scan auto|camera|codec]\n"
           "                      [--reference HEALTHY] [--output REPAIRED] DAMAGED\n"
           "  arbel-repair --help | --version\n"
           "\n"
           "Repairs damaged video files. \"mov\", \"mp4\" and \"m4v\" recordings need a healthy\n"
           "reference clip from the same camera (--reference); \"avi\" files need none.\n"
           "\n"
           "Commands:\n"
           "  check    run the validity checks on the damaged file (and the reference)\n"
           "  repair   repair the damaged file; the result is written beside it as\n"
           "           NAME-repaired.EXT unless --output names another path\n"
           "\n"
           "Options:\n"
           "  -r, --reference PATH   healthy clip from the same camera (QuickTime files)\n"
           "  -o, --output PATH      where to write the repaired file (never over an input)\n"
           "  -f, --force            replace an existing output file\n"
           "      --scan WHICH       QuickTime: auto (default: the camera rules, and the\n"
           "                         codec-aware scan where they fit no camera or recover\n"
           "                         too little), camera, or codec\n"
           "      --verify           decode the repaired file and say what plays\n"
           "      --json             print the report as one JSON object on stdout\n"
           "  -v, --verbose          write the engines' diagnostic lines to stderr\n"
           "  -h, --help             show this help and exit\n"
           "      --version          show the version and exit\n"
           "\n"
           "Exit status: 0 success; 1 the file was refused or could not be repaired;\n"
           "2 usage error; 3 a file could not be read or written; 130 interrupted.\n";
}

std::optional<ScanChoice> scanChoiceNamed(const std::string& name) {
    if (name == "auto") return ScanChoice::Auto;
    if (name == "camera") return ScanChoice::Camera;
    if (name == "codec") return ScanChoice::Codec;
    return std::nullopt;
}

std::optional<Options> parseOptions(int argc, char** argv, std::string& error) {
    Options options;
    int i = 1;
    auto takeValue = [&](const char* name) -> std::optional<std::string> {
        if (i + 1 >= argc) {
            error = std::string("option ") + name + " needs a value";
            return std::nullopt;
        }
        return std::string(argv[++i]);
    };
    bool afterDashes = false;
    for (; i < argc; ++i) {
        const char* arg = argv[i];
        if (!afterDashes && std::strcmp(arg, "--") == 0) {
            afterDashes = true;
            continue;
        }
        if (!afterDashes && arg[0] == '-' && arg[1] != '\0') {
            if (!std::strcmp(arg, "-h") || !std::strcmp(arg, "--help")) {
                options.command = "help";
                return options;
            }
            if (!std::strcmp(arg, "--version")) {
                options.command = "version";
                return options;
            }
            if (!std::strcmp(arg, "--json")) {
                options.json = true;
            } else if (!std::strcmp(arg, "-v") || !std::strcmp(arg, "--verbose")) {
                options.verbose = true;
            } else if (!std::strcmp(arg, "-f") || !std::strcmp(arg, "--force")) {
                options.force = true;
            } else if (!std::strcmp(arg, "--verify")) {
                options.verify = true;
            } else if (!std::strcmp(arg, "--scan")) {
                auto v = takeValue(arg);
                if (!v) return std::nullopt;
                const auto choice = scanChoiceNamed(*v);
                if (!choice) {
                    error = "--scan takes auto, camera or codec, not " + *v;
                    return std::nullopt;
                }
                options.scan = *choice;
                options.scanGiven = true;
            } else if (!std::strcmp(arg, "-r") || !std::strcmp(arg, "--reference")) {
                auto v = takeValue(arg);
                if (!v) return std::nullopt;
                options.reference = *v;
            } else if (!std::strcmp(arg, "-o") || !std::strcmp(arg, "--output")) {
                auto v = takeValue(arg);
                if (!v) return std::nullopt;
                options.output = *v;
            } else {
                error = std::string("unknown option ") + arg;
                return std::nullopt;
            }
            continue;
        }
        if (options.command.empty()) {
            options.command = arg;
        } else if (options.damaged.empty()) {
            options.damaged = arg;
        } else {
            error = std::string("unexpected argument ") + arg;
            return std::nullopt;
        }
    }
    if (options.command.empty()) {
        error = "no command given";
        return std::nullopt;
    }
    if (options.command != "check" && options.command != "repair") {
        error = "unknown command " + options.command;
        return std::nullopt;
    }
    if (options.damaged.empty()) {
        error = "no damaged file given";
        return std::nullopt;
    }
    return options;
}

}  // namespace arbel::cli
