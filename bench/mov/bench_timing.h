#pragma once

// The QuickTime benchmarks' repair, run as the command line runs it.

#include "../copy_timing.h"
#include "engine/mov/repair_file.h"
#include "engine/result_location.h"
#include "platform/pacing.h"

#include <cstdlib>

namespace arbel::bench {

// One QuickTime repair in a child process, as the command line runs it, with
// zero pacing and the result under resultBase. (The tests' runner hashes the
// inputs around a repair: over a gigabyte that would be most of the time and
// memory measured.)
inline Timed repairInChild(const std::string& reference, const std::string& damaged, const std::string& resultBase,
                           ScanChoice scan) {
    const Timed t = inChild([&] {
        setenv("ARBEL_RESULT_BASE", resultBase.c_str(), 1);
        Pacing::setMode(Pacing::Mode::Zero);
        RepairRequest request = RepairRequest::forFiles(damaged, reference);
        request.bundleIdentifier = kArbelBundleIdentifier;
        request.scan = scan;
        RepairFile engine(request);
        if (!engine.referencefileValidityCheck() || !engine.corruptedfileValidityCheck()) return 1;
        const RepairReport r = engine.repairMOV();
        if (!r.completed()) {
            std::fprintf(stderr, "repair did not complete: %s\n", r.reason.c_str());
            return 1;
        }
        std::printf("  repair: %s, %llu video samples, %llu audio chunks\n", r.scan.c_str(),
                    static_cast<unsigned long long>(r.video.units), static_cast<unsigned long long>(r.audio.units));
        std::fflush(stdout);
        return 0;
    });
    std::filesystem::remove_all(resultBase);
    return t;
}

}  // namespace arbel::bench
