#include "temp_dir.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include <gtest/gtest.h>

namespace arbel::test {

TempDir::TempDir() {
    std::string pattern = "/tmp/arbel-test-XXXXXX";
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::string TempDir::write(const std::string& name, const std::vector<uint8_t>& bytes) const {
    std::string p = file(name);
    writeWholeFile(p, bytes);
    return p;
}

std::vector<uint8_t> readWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeWholeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void logResultHash(const std::string& resultPath) {
    const char* log = std::getenv("ARBEL_RESULT_HASH_LOG");
    if (!log || !*log) return;
    const std::vector<uint8_t> bytes = readWholeFile(resultPath);
    uint64_t hash = 0xcbf29ce484222325ull;  // FNV-1a, 64 bits: enough to tell files apart
    for (uint8_t b : bytes) hash = (hash ^ b) * 0x100000001b3ull;
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : "unknown";
    if (FILE* f = std::fopen(log, "a")) {
        std::fprintf(f, "%s %016" PRIx64 " %zu\n", name.c_str(), hash, bytes.size());
        std::fclose(f);
    }
}

ScopedResultBase::ScopedResultBase(const std::string& base) {
    if (const char* p = std::getenv("ARBEL_RESULT_BASE")) {
        previous_ = p;
        hadPrevious_ = true;
    }
    setenv("ARBEL_RESULT_BASE", base.c_str(), 1);
}

ScopedResultBase::~ScopedResultBase() {
    if (hadPrevious_) setenv("ARBEL_RESULT_BASE", previous_.c_str(), 1);
    else unsetenv("ARBEL_RESULT_BASE");
}

}  // namespace arbel::test
