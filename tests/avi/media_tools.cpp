#include "media_tools.h"

#include "support/temp_dir.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace arbel::test {
namespace {

std::string readAll(const std::string& path) {
    const auto bytes = readWholeFile(path);
    return std::string(bytes.begin(), bytes.end());
}

uint32_t le32At(const std::vector<uint8_t>& b, uint64_t at) {
    return static_cast<uint32_t>(b[at] | (b[at + 1] << 8) | (b[at + 2] << 16)) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

}  // namespace

ProgramResult runProgram(const std::vector<std::string>& argv) {
    TempDir scratch;
    const std::string outPath = scratch.file("out"), errPath = scratch.file("err");
    ProgramResult result;
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int in = ::open("/dev/null", O_RDONLY);
        if (out < 0 || err < 0 || in < 0) ::_exit(127);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    if (pid < 0) return result;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
    }
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = readAll(outPath);
    result.err = readAll(errPath);
    return result;
}

bool haveProgram(const std::string& name) { return runProgram({name, "-version"}).exitCode == 0; }

std::string cachedClip(const std::string& kind) {
    const std::string folder = ARBEL_AVI_MEDIA_DIR;
    const std::string path = folder + "/" + kind + ".avi";
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && st.st_size > 0) return path;
    ::mkdir(folder.c_str(), 0755);

    // Made under a private name and renamed, so parallel tests never see half a clip.
    const std::string partial = path + "." + std::to_string(::getpid()) + ".tmp";
    std::vector<std::string> args = {"ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i"};
    if (kind == "mjpeg_pcm") {
        args.insert(args.end(), {"testsrc=size=320x240:rate=25", "-f", "lavfi", "-i",
                                 "sine=frequency=440:sample_rate=44100", "-t", "10", "-c:v", "mjpeg", "-q:v", "3",
                                 "-c:a", "pcm_s16le", "-ac", "2"});
    } else {
        args.insert(args.end(), {"testsrc=size=640x480:rate=25", "-f", "lavfi", "-i",
                                 "sine=frequency=440:sample_rate=44100", "-t", "20", "-c:v", "mpeg4", "-q:v", "3",
                                 "-c:a", "libmp3lame", "-b:a", "128k"});
    }
    args.insert(args.end(), {"-f", "avi", partial});
    if (runProgram(args).exitCode != 0 || ::rename(partial.c_str(), path.c_str()) != 0) {
        ::unlink(partial.c_str());
        return {};
    }
    return path;
}

std::vector<ChunkEntry> movieChunks(const std::vector<uint8_t>& file) {
    std::vector<ChunkEntry> chunks;
    uint64_t at = 12;  // after "RIFF", size, "AVI "
    while (at + 12 <= file.size()) {
        const std::string id(file.begin() + static_cast<std::ptrdiff_t>(at), file.begin() + static_cast<std::ptrdiff_t>(at + 4));
        const uint64_t size = le32At(file, at + 4);
        const std::string listType(file.begin() + static_cast<std::ptrdiff_t>(at + 8),
                                   file.begin() + static_cast<std::ptrdiff_t>(at + 12));
        if (id == "LIST" && listType == "movi") {
            const uint64_t end = std::min<uint64_t>(at + 8 + size, file.size());
            uint64_t c = at + 12;
            while (c + 8 <= end) {
                const uint64_t chunkSize = le32At(file, c + 4);
                chunks.push_back({std::string(file.begin() + static_cast<std::ptrdiff_t>(c),
                                              file.begin() + static_cast<std::ptrdiff_t>(c + 4)),
                                  c, chunkSize});
                c += 8 + chunkSize + (chunkSize & 1);
            }
            return chunks;
        }
        at += 8 + size + (size & 1);
    }
    return chunks;
}

PacketCounts probePackets(const std::string& path) {
    PacketCounts counts;
    const ProgramResult probe = runProgram({"ffprobe", "-v", "error", "-count_packets", "-show_entries",
                                            "stream=codec_type,nb_read_packets", "-of", "csv=p=0", path});
    counts.errors = probe.err;
    if (probe.exitCode != 0) return counts;
    std::istringstream lines(probe.out);
    std::string line;
    while (std::getline(lines, line)) {
        const auto comma = line.find(',');
        if (comma == std::string::npos) continue;
        const std::string type = line.substr(0, comma);
        const int64_t n = std::strtoll(line.c_str() + comma + 1, nullptr, 10);
        if (type == "video") counts.video = n;
        if (type == "audio") counts.audio = n;
    }
    return counts;
}

}  // namespace arbel::test
