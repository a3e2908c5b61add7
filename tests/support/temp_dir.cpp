#include "temp_dir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <algorithm>
#include <iterator>
#include <stdexcept>

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
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) return {};
    std::vector<uint8_t> bytes(static_cast<size_t>(std::max<std::streamoff>(0, in.tellg())));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<size_t>(std::max<std::streamsize>(0, in.gcount())));
    return bytes;
}

void writeWholeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
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
