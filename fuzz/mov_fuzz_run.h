#pragma once

// One QuickTime repair on files the fuzzer controls: the checks as the
// controller runs them, then repairMOV, with zero pacing and no observer.
#include "engine/mov/repair_file.h"
#include "engine/result_location.h"
#include "platform/pacing.h"
#include "platform/system_log.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace arbel::fuzz {

// A private folder for the inputs and the results, removed at exit.
struct ScratchFolder {
    std::string path;
    ~ScratchFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
};

inline std::string scratchPath(const char* name) {
    static const ScratchFolder scratch{[] {
        std::string f = "/tmp/arbel-fuzz-" + std::to_string(getpid());
        std::string results = f + "/results";
        ::mkdir(f.c_str(), 0700);
        ::mkdir(results.c_str(), 0700);
        setenv("ARBEL_RESULT_BASE", results.c_str(), 1);
        Pacing::setMode(Pacing::Mode::Zero);
        SystemLog::silence();
        return f;
    }()};
    return scratch.path + "/" + name;
}

inline void writeFile(const std::string& path, const uint8_t* data, size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

inline void repairOnce(const std::string& reference, const std::string& damaged) {
    RepairRequest request = RepairRequest::forFiles(damaged, reference);
    request.center = nullptr;
    request.bundleIdentifier = kArbelBundleIdentifier;
    RepairFile engine(request);
    if (!engine.referencefileValidityCheck() || !engine.corruptedfileValidityCheck()) return;
    engine.repairMOV();
}

}  // namespace arbel::fuzz
