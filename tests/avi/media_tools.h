#pragma once

// Running ffmpeg, ffprobe and the command-line program from the end-to-end
// tests, and reading the chunk list of a healthy AVI.

#include <cstdint>
#include <string>
#include <vector>

namespace arbel::test {

struct ProgramResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Runs a program with an argument list (no shell) and collects its output.
ProgramResult runProgram(const std::vector<std::string>& argv);

bool haveProgram(const std::string& name);

// A clip made by ffmpeg once and kept in the build folder: "mjpeg_pcm" or
// "mpeg4_mp3". Empty when ffmpeg could not make it.
std::string cachedClip(const std::string& kind);

struct ChunkEntry {
    std::string id;
    uint64_t offset;  // of the identifier
    uint64_t size;    // of the data
};

// The chunks of the movie list of a well-formed AVI, in file order.
std::vector<ChunkEntry> movieChunks(const std::vector<uint8_t>& file);

// Packets per stream type as ffprobe counts them; -1 when ffprobe failed.
struct PacketCounts {
    int64_t video = -1;
    int64_t audio = -1;
    std::string errors;
};
PacketCounts probePackets(const std::string& path);

}  // namespace arbel::test
