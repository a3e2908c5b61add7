#pragma once

// Reads a repaired AVI back through its own structure, as a player would,
// without holding the file in memory (results pass 4 GiB): the RIFF lists
// tile the file, every list's children tile the list, and each super index
// leads to standard indexes whose entries land on chunk headers of the
// stream with the size the entry gives.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace arbel::test {

struct RiffReadBack {
    std::vector<std::string> errors;       // empty: every size and index entry is consistent
    std::vector<std::string> listTypes;    // of the top-level RIFF lists: "AVI ", "AVIX", ...
    std::vector<uint64_t> listSizes;       // their size fields
    uint64_t avihFrames = 0;               // the main header's frame count
    uint64_t extendedFrames = 0;           // "dmlh", 0 without one
    uint64_t videoLength = 0, audioLength = 0;      // the stream headers' lengths
    uint64_t videoIndexed = 0, audioIndexed = 0;    // chunks reached through the indexes
    uint64_t videoStandardIndexes = 0, audioStandardIndexes = 0;

    bool consistent() const { return errors.empty(); }
};

// `chunk` (optional) sees every indexed chunk: video or audio, where its data
// starts in the file and its size.
RiffReadBack readRiffBack(const std::string& path,
                          const std::function<void(bool video, uint64_t dataAt, uint32_t size)>& chunk = {});

}  // namespace arbel::test
