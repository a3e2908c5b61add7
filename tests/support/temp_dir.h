#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace arbel::test {

// A fresh folder under /tmp that is removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

    // Writes bytes to a file in the folder and returns its path.
    std::string write(const std::string& name, const std::vector<uint8_t>& bytes) const;

private:
    std::string path_;
};

std::vector<uint8_t> readWholeFile(const std::string& path);
void writeWholeFile(const std::string& path, const std::vector<uint8_t>& bytes);

// Remembers the contents of input files; a repair must never change them.
class InputGuard {
public:
    explicit InputGuard(std::vector<std::string> paths);
    // Adds a test failure for every input whose bytes changed.
    void expectUnchanged() const;

private:
    std::vector<std::string> paths_;
    std::vector<uint64_t> hashes_;
};

// When ARBEL_RESULT_HASH_LOG names a file, appends "<test> <hash>" of the
// result at path to it, so that scripts/e2e-hashes.sh can tell whether a
// change altered any repaired file.
void logResultHash(const std::string& resultPath);

// Points the temporary result folder at a private place for one test.
class ScopedResultBase {
public:
    explicit ScopedResultBase(const std::string& base);
    ~ScopedResultBase();

private:
    std::string previous_;
    bool hadPrevious_ = false;
};

}  // namespace arbel::test
