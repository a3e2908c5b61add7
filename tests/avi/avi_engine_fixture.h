#pragma once

#include "avi_builder.h"
#include "engine/avi/repair_file_avi.h"
#include "engine/repair_session.h"
#include "platform/pacing.h"
#include "platform/system_log.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace arbel::test {

// One AVI repair at a time with zero pacing, results under a private folder,
// notifications and log lines recorded.
class AviEngineTest : public ::testing::Test {
protected:
    TempDir dir;
    ScopedResultBase base{dir.file("results")};
    NotificationLog notes;

    void SetUp() override {
        Pacing::setMode(Pacing::Mode::Zero);
        SystemLog::setSink([this](std::string_view line) {
            std::lock_guard<std::mutex> lock(logMutex_);
            logLines_.emplace_back(line);
        });
    }
    void TearDown() override { SystemLog::silence(); }

    // The damaged file, chosen as the controller chooses it.
    std::string choose(const std::vector<uint8_t>& bytes, const std::string& name = "damaged.avi") {
        const std::string path = dir.write(name, bytes);
        chooseDamagedFile(path);
        return path;
    }

    std::unique_ptr<RepairFileAvi> makeEngine() {
        auto engine = std::make_unique<RepairFileAvi>();
        engine->setNotificationCenter(&notes.center);
        return engine;
    }

    // Chooses the bytes and runs the whole repair on this thread; the
    // notifications of earlier repairs are forgotten.
    std::unique_ptr<RepairFileAvi> repair(const std::vector<uint8_t>& bytes) {
        notes.clear();
        std::remove(resultPath().c_str());
        choose(bytes);
        auto engine = makeEngine();
        engine->fileValidityCheck();
        engine->retrieveAudioVideoSamples();
        return engine;
    }

    std::string resultPath() const { return dir.file("results") + "/Arbel Video Repair/.testfile.avi"; }
    std::vector<uint8_t> result() const { return readWholeFile(resultPath()); }

    size_t logCount(const std::string& fragment) {
        std::lock_guard<std::mutex> lock(logMutex_);
        size_t n = 0;
        for (const auto& line : logLines_) n += line.find(fragment) != std::string::npos;
        return n;
    }

private:
    std::mutex logMutex_;
    std::vector<std::string> logLines_;
};

inline uint32_t le32(const std::vector<uint8_t>& b, size_t at) {
    return static_cast<uint32_t>(b.at(at) | (b.at(at + 1) << 8) | (b.at(at + 2) << 16)) |
           (static_cast<uint32_t>(b.at(at + 3)) << 24);
}
inline std::string text4(const std::vector<uint8_t>& b, size_t at) {
    b.at(at + 3);
    return std::string(reinterpret_cast<const char*>(b.data() + at), 4);
}

}  // namespace arbel::test
