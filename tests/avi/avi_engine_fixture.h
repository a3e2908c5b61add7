#pragma once

#include "avi_builder.h"
#include "engine/avi/repair_file_avi.h"
#include "platform/pacing.h"
#include "platform/system_log.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
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

    // The damaged file the next engine repairs.
    std::string choose(const std::vector<uint8_t>& bytes, const std::string& name = "damaged.avi") {
        chosen_ = dir.write(name, bytes);
        return chosen_;
    }

    void chooseFile(const std::string& path) { chosen_ = path; }

    // An engine for the chosen file, stopped and paused through `control`;
    // resultPath empty: the hidden temporary result.
    std::unique_ptr<RepairFileAvi> makeEngine(const std::string& resultPath = {}) {
        RepairRequest request = RepairRequest::forFiles(chosen_);
        request.center = &notes.center;
        request.resultPath = resultPath;
        request.control = control;
        return std::make_unique<RepairFileAvi>(std::move(request));
    }
    std::shared_ptr<RepairControl> control = std::make_shared<RepairControl>();
    void requestStop() { control->requestStop(); }

    // Chooses the bytes and runs the whole repair on this thread; the
    // notifications of earlier repairs are forgotten.
    std::unique_ptr<RepairFileAvi> repair(const std::vector<uint8_t>& bytes) {
        notes.clear();
        std::remove(resultPath().c_str());
        choose(bytes);
        control = std::make_shared<RepairControl>();
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
    std::string chosen_;
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

// Where a standard index ("ix00", "ix01") says its stream's chunks begin:
// its base offset, read from the file.
inline size_t chunkBaseOf(const std::vector<uint8_t>& b, const char* index) {
    const char* const end = reinterpret_cast<const char*>(b.data() + b.size());
    const char* at = std::search(reinterpret_cast<const char*>(b.data()), end, index, index + 4);
    if (at == end) return b.size();
    return le32(b, static_cast<size_t>(at - reinterpret_cast<const char*>(b.data())) + 20);
}

// The RIFF list spans the whole file.
inline bool riffSpansTheFile(const std::vector<uint8_t>& b) { return b.size() >= 8 && le32(b, 4) + 8u == b.size(); }

}  // namespace arbel::test
