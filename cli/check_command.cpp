// "check": the validity checks a repair starts with, without repairing.
#include "commands.h"

#include "engine/avi/repair_file_avi.h"
#include "engine/file_kind.h"
#include "engine/mov/repair_file.h"
#include "file_checks.h"
#include "json_writer.h"
#include "report_summary.h"
#include "platform/file_system.h"

#include <cstdio>

namespace arbel::cli {

int runCheck(const Options& options) {
    const FileKind kind = fileKindForPath(options.damaged);
    if (kind == FileKind::None) {
        std::fprintf(stderr, "arbel-repair: %s: not a \"mov\", \"mp4\", \"m4v\" or \"avi\" file\n",
                     options.damaged.c_str());
        return kExitUsage;
    }
    FileIdentity damagedId, referenceId;
    if (const auto problem = inputProblem(options.damaged, damagedId)) {
        std::fprintf(stderr, "arbel-repair: %s: %s\n", options.damaged.c_str(), problem->text.c_str());
        return problem->exitCode;
    }
    if (kind == FileKind::QuickTime && !options.reference) {
        std::fprintf(stderr, "arbel-repair: a \"%s\" file needs --reference (a healthy clip from the same camera)\n",
                     fs::pathExtension(options.damaged).c_str());
        return kExitUsage;
    }

    JsonObject report;
    report.add("schema", kJsonSchema).add("damaged", options.damaged);
    addRawPath(report, "damagedRaw", options.damaged);
    bool passed = false;

    if (kind == FileKind::Avi) {
        RepairFileAvi engine(RepairRequest::forFiles(options.damaged));
        passed = engine.fileValidityCheck();
        report.add("kind", "avi").add("damagedValid", passed).add("uncompressedVideo", engine.db);
        if (!options.json)
            std::printf("damaged file: %s\n", passed ? "valid AVI structure found" : "Invalid corrupted file");
    } else {
        if (const auto problem = inputProblem(*options.reference, referenceId)) {
            std::fprintf(stderr, "arbel-repair: %s: %s\n", options.reference->c_str(), problem->text.c_str());
            return problem->exitCode;
        }
        RepairFile engine(RepairRequest::forFiles(options.damaged, *options.reference));
        const bool referenceValid = engine.referencefileValidityCheck();
        const bool damagedValid = referenceValid && engine.corruptedfileValidityCheck();
        passed = referenceValid && damagedValid;
        report.add("kind", "quicktime").add("reference", *options.reference);
        addRawPath(report, "referenceRaw", *options.reference);
        report.add("referenceValid", referenceValid);
        if (referenceValid) report.add("damagedValid", damagedValid);
        else report.addNull("damagedValid");
        if (!options.json) {
            std::printf("reference file: %s\n", referenceValid ? "valid (moov and mdat found)" : "Invalid reference file");
            if (referenceValid)
                std::printf("damaged file: %s\n", damagedValid ? "valid (ftyp, moov or mdat found)" : "Invalid corrupted file");
        }
    }
    report.add("passed", passed);
    if (options.json) std::printf("%s\n", report.str().c_str());
    if (!passed) std::fprintf(stderr, "arbel-repair: check failed\n");
    return passed ? kExitOk : kExitRefused;
}

}  // namespace arbel::cli
