// Checks on the files around a repair: inputs unchanged, results hashed.
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace arbel::test {

namespace {
uint64_t hashOf(const std::vector<uint8_t>& bytes) {
    uint64_t hash = 0xcbf29ce484222325ull;  // FNV-1a, 64 bits: enough to tell files apart
    for (uint8_t b : bytes) hash = (hash ^ b) * 0x100000001b3ull;
    return hash;
}
}  // namespace

InputGuard::InputGuard(std::vector<std::string> paths) : paths_(std::move(paths)) {
    for (const auto& path : paths_) hashes_.push_back(hashOf(readWholeFile(path)));
}

void InputGuard::expectUnchanged() const {
    for (size_t i = 0; i < paths_.size(); ++i)
        EXPECT_EQ(hashOf(readWholeFile(paths_[i])), hashes_[i]) << paths_[i] << " changed during the repair";
}

void logResultHash(const std::string& resultPath) {
    const char* log = std::getenv("ARBEL_RESULT_HASH_LOG");
    if (!log || !*log) return;
    const std::vector<uint8_t> bytes = readWholeFile(resultPath);
    const uint64_t hash = hashOf(bytes);
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : "unknown";
    if (FILE* f = std::fopen(log, "a")) {
        std::fprintf(f, "%s %016" PRIx64 " %zu\n", name.c_str(), hash, bytes.size());
        std::fclose(f);
    }
}

}  // namespace arbel::test
