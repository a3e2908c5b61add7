// "repair": runs an engine headless and writes the result where the user asks.
#include "commands.h"

#include "engine/file_kind.h"
#include "engine/repair_session.h"
#include "engine/repair_values.h"
#include "json_writer.h"
#include "platform/file_system.h"
#include "progress_printer.h"
#include "summaries.h"

#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace arbel::cli {
namespace {

volatile std::sig_atomic_t g_interrupted = 0;

extern "C" void onInterrupt(int) {
    g_interrupted = 1;
    repairValues().stopRequested.store(1, std::memory_order_relaxed);
}

std::string canonical(const std::string& path) {
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved)) return resolved;
    return {};
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

}  // namespace

int runRepair(const Options& options) {
    const FileKind kind = fileKindForPath(options.damaged);
    if (kind == FileKind::None)
        return fail(options.damaged + ": not a \"mov\", \"mp4\", \"m4v\" or \"avi\" file", kExitUsage);
    if (!fs::isRegularFile(options.damaged)) return fail(options.damaged + ": no such file", kExitIoError);
    if (kind == FileKind::QuickTime) {
        if (!options.reference)
            return fail("a QuickTime-family file needs --reference (a healthy clip from the same camera)", kExitUsage);
        if (!fs::isRegularFile(*options.reference)) return fail(*options.reference + ": no such file", kExitIoError);
    }

    const std::string output = options.output.value_or(defaultOutputFor(options.damaged, kind));
    const std::string outputReal = canonical(output);
    if (!outputReal.empty() && (outputReal == canonical(options.damaged) ||
                                (options.reference && outputReal == canonical(*options.reference))))
        return fail(output + ": the result would overwrite an input file", kExitUsage);
    if (fs::exists(output) && !options.force)
        return fail(output + ": already exists (use --force to replace it)", kExitUsage);
    const std::string partial = output + ".partial";

    resetRepairValues();
    chooseDamagedFile(options.damaged);
    if (options.reference) chooseReferenceFile(*options.reference);

    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);

    ProgressPrinter printer(options.json);
    RunOutcome outcome = kind == FileKind::Avi ? runAviRepair(partial, printer)
                                               : runMovRepair(partial, printer);
    printer.finish();

    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);

    if (!outcome.refusal.empty()) {
        fs::removeFile(partial);
        return fail(outcome.refusal, kExitRefused);
    }
    if (g_interrupted) {
        fs::removeFile(partial);
        return fail("interrupted; nothing was written", kExitInterrupted);
    }
    if (!printer.completed() || !fs::isRegularFile(partial)) {
        fs::removeFile(partial);
        return fail(options.damaged + ": " + printer.failureText(), kExitRefused);
    }
    if (!fs::renameFile(partial, output)) {
        fs::removeFile(partial);
        return fail(output + ": could not be written", kExitIoError);
    }

    outcome.report.add("output", output);
    outcome.report.add("outputBytes", fs::fileSize(output).value_or(0));
    if (options.json) {
        std::printf("%s\n", outcome.report.str().c_str());
    } else {
        for (const auto& line : outcome.lines) std::printf("%s\n", line.c_str());
        std::printf("repaired file: %s (%llu bytes)\n", output.c_str(),
                    static_cast<unsigned long long>(fs::fileSize(output).value_or(0)));
    }
    return kExitOk;
}

}  // namespace arbel::cli
