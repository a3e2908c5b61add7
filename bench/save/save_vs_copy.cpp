// Saving speed against copying: writes a file of N MiB, then times `cp`
// followed by `sync` of the copy (saving makes its copy durable too) and the
// save's copy with its own piece size and with 1 KiB pieces.
//
//   arbel-bench-save [--size-mib N] [--work DIR]
#include "platform/file_copy.h"
#include "platform/pacing.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace arbel;

namespace {

double seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

bool run(const std::vector<const char*>& argv) {
    const pid_t pid = fork();
    if (pid == 0) {
        execvp(argv[0], const_cast<char* const*>(argv.data()));
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

double timeSave(const std::string& source, const std::string& destination, uint64_t size, size_t piece) {
    std::filesystem::remove(destination);
    std::atomic<bool> pause{false}, stop{false};
    CopyProgress progress;
    CopyRequest request;
    request.source = source;
    request.destination = destination;
    request.need = size;
    request.pieceSize = piece;
    const auto start = std::chrono::steady_clock::now();
    const CopyResult result = copyFile(request, CopyFlags{pause, stop}, progress);
    const double took = seconds(start);
    if (result.outcome != CopyOutcome::Copied) {
        std::fprintf(stderr, "copy failed: %s\n", result.reason.c_str());
        std::exit(1);
    }
    return took;
}

}  // namespace

int main(int argc, char** argv) {
    uint64_t sizeMiB = 2048;
    std::string work = "/tmp";
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--size-mib")) sizeMiB = std::strtoull(argv[i + 1], nullptr, 10);
        else if (!std::strcmp(argv[i], "--work")) work = argv[i + 1];
    }
    Pacing::setMode(Pacing::Mode::Zero);
    const std::string folder = work + "/arbel-bench-save-" + std::to_string(getpid());
    std::filesystem::create_directories(folder);
    const std::string source = folder + "/.testfile.mov";
    const uint64_t size = sizeMiB << 20;
    {
        std::vector<char> block(1 << 20);
        for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 131);
        FILE* out = std::fopen(source.c_str(), "wb");
        for (uint64_t i = 0; i < sizeMiB; ++i) std::fwrite(block.data(), 1, block.size(), out);
        std::fclose(out);
        run({"sync", source.c_str(), nullptr});
    }

    const std::string copy = folder + "/cp-copy.mov";
    auto start = std::chrono::steady_clock::now();
    run({"cp", source.c_str(), copy.c_str(), nullptr});
    run({"sync", copy.c_str(), nullptr});
    const double cpSeconds = seconds(start);
    std::filesystem::remove(copy);

    const double saveSeconds = timeSave(source, folder + "/repaired.mov", size, kCopyPieceSize);
    const double smallSeconds = timeSave(source, folder + "/repaired-1k.mov", size, 1024);

    std::printf("file: %llu MiB\n", static_cast<unsigned long long>(sizeMiB));
    std::printf("cp + sync:              %6.2f s\n", cpSeconds);
    std::printf("save (%zu KiB pieces): %6.2f s  (%.2f x cp)\n", kCopyPieceSize >> 10, saveSeconds,
                saveSeconds / cpSeconds);
    std::printf("save (1 KiB pieces):    %6.2f s  (%.2f x cp)\n", smallSeconds, smallSeconds / cpSeconds);
    std::filesystem::remove_all(folder);
    return 0;
}
