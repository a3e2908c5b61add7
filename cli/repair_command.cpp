// "repair": runs an engine headless and writes the result where the user asks.
#include "commands.h"

#include "engine/avi/repair_file_avi.h"
#include "engine/file_kind.h"
#include "engine/mov/repair_file.h"
#include "engine/result_location.h"
#include "platform/file_system.h"
#include "file_checks.h"
#include "progress_printer.h"
#include "report_summary.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace arbel::cli {
namespace {

// The one repair of this process; Ctrl-C stops it at its next poll point.
RepairControl g_control;
volatile std::sig_atomic_t g_interrupted = 0;

extern "C" void onInterrupt(int) {
    g_interrupted = 1;
    g_control.requestStopFromSignal();
}

std::string defaultOutputFor(const std::string& damaged, FileKind kind) {
    std::string folder;
    std::string name = fs::lastPathComponent(damaged);
    auto slash = damaged.rfind('/');
    if (slash != std::string::npos) folder = damaged.substr(0, slash + 1);
    auto dot = name.rfind('.');
    std::string stem = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
    return folder + stem + "-repaired" + (kind == FileKind::Avi ? ".avi" : ".mov");
}

int fail(const std::string& message, int code) {
    std::fprintf(stderr, "arbel-repair: %s\n", message.c_str());
    return code;
}

// Runs the checks and the engine on this thread. A refusal of the checks
// comes back as the report's reason with the outcome Refused and no scan.
RepairReport runEngine(FileKind kind, RepairRequest request, std::string& checkRefusal) {
    if (kind == FileKind::Avi) {
        RepairFileAvi engine(std::move(request));
        if (!engine.fileValidityCheck()) {
            checkRefusal = "Invalid corrupted file: select a movie file";
            return {};
        }
        return engine.retrieveAudioVideoSamples();
    }
    RepairFile engine(std::move(request));
    if (!engine.referencefileValidityCheck()) {
        checkRefusal = "Invalid reference file: select a healthy movie file";
        return {};
    }
    if (!engine.corruptedfileValidityCheck()) {
        checkRefusal = "Invalid corrupted file: select a movie file";
        return {};
    }
    return engine.repairMOV();
}

}  // namespace

int runRepair(const Options& options) {
    const FileKind kind = fileKindForPath(options.damaged);
    if (kind == FileKind::None)
        return fail(options.damaged + ": not a \"mov\", \"mp4\", \"m4v\" or \"avi\" file", kExitUsage);
    if (kind == FileKind::QuickTime && !options.reference)
        return fail("a QuickTime-family file needs --reference (a healthy clip from the same camera)", kExitUsage);

    // The inputs: regular files that can be read, and two different ones.
    FileIdentity damagedId, referenceId;
    if (const auto problem = inputProblem(options.damaged, damagedId))
        return fail(options.damaged + ": " + problem->text, problem->exitCode);
    if (kind == FileKind::QuickTime) {
        if (const auto problem = inputProblem(*options.reference, referenceId))
            return fail(*options.reference + ": " + problem->text, problem->exitCode);
        if (referenceId == damagedId)
            return fail("the damaged file and the reference are the same file; the reference must be another, "
                        "healthy clip from the same camera",
                        kExitUsage);
    }
    const auto isInput = [&](const FileIdentity& id) {
        return id == damagedId || (kind == FileKind::QuickTime && id == referenceId);
    };

    // The result's place, before any work.
    const std::string output = options.output.value_or(defaultOutputFor(options.damaged, kind));
    if (const auto problem = outputProblem(output)) return fail(output + ": " + problem->text, problem->exitCode);
    if (const auto existing = identityOf(output)) {
        if (isInput(*existing)) return fail(output + ": the result would overwrite an input file", kExitUsage);
        if (!options.force) return fail(output + ": already exists (use --force to replace it)", kExitUsage);
    }

    // Written under a new name of its own beside the destination, created
    // exclusively by the engine: nothing that is there already is touched.
    const std::string partial = temporaryNameBeside(output);
    RepairRequest request = RepairRequest::forFiles(options.damaged, options.reference.value_or(""));
    request.resultPath = partial;
    request.resultMustBeNew = true;
    request.bundleIdentifier = kArbelBundleIdentifier;
    // The process's one control: the signal handler must reach it without a lock.
    request.control = std::shared_ptr<RepairControl>(&g_control, [](RepairControl*) {});

    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
    ProgressPrinter printer(*request.center, options.json);
    std::string checkRefusal;
    const RepairReport report = runEngine(kind, std::move(request), checkRefusal);
    printer.finish();
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);

    // Only the file this run created is ever removed.
    const auto partialId = identityOf(partial);
    const auto discard = [&] {
        if (partialId && !isInput(*partialId)) fs::removeFile(partial);
    };
    if (!checkRefusal.empty()) {
        discard();
        return fail(checkRefusal, kExitRefused);
    }
    if (g_interrupted || report.outcome == RepairOutcome::Stopped) {
        discard();
        return fail("interrupted; nothing was written", kExitInterrupted);
    }
    if (!report.completed() || !partialId) {
        discard();
        const std::string why = report.reason.empty() ? "" : " (" + report.reason + ")";
        if (report.outcome == RepairOutcome::Failed)
            return fail(output + ": the repaired file could not be written" + why, kExitIoError);
        return fail(options.damaged + ": " + kCannotRepairText + why, kExitRefused);
    }
    if (isInput(*partialId)) return fail(partial + ": names an input file; nothing was replaced", kExitIoError);
    if (const auto error = moveIntoPlace(partial, output, options.force)) {
        discard();
        const std::string cause = *error == std::strerror(EEXIST)
                                      ? "appeared while the repair ran (another run wrote it?); it was left as it is"
                                      : *error;
        return fail(output + ": " + cause, kExitIoError);
    }

    const uint64_t outputBytes = fs::fileSize(output).value_or(0);
    if (options.json) {
        JsonObject json = summaryJson(report);
        json.add("output", output).add("outputBytes", outputBytes);
        addRawPath(json, "outputRaw", output);
        std::printf("%s\n", json.str().c_str());
    } else {
        for (const auto& line : summaryLines(report)) std::printf("%s\n", line.c_str());
        std::printf("repaired file: %s (%llu bytes)\n", output.c_str(), static_cast<unsigned long long>(outputBytes));
    }
    return kExitOk;
}

}  // namespace arbel::cli
