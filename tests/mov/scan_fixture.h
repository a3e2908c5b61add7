#pragma once

#include "engine/mov/scan_skeleton.h"
#include "platform/pacing.h"
#include "platform/system_log.h"
#include "support/media_data_builder.h"
#include "support/mov_stages.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace arbel::test {

// One engine over one crafted damaged file; the reference-derived fields are
// set by each test. Notifications are collected, the result is read back.
class ScanFixture : public ::testing::Test {
protected:
    TempDir dir;
    ScopedResultBase base{dir.file("results")};
    NotificationCenter center;
    std::vector<NotifDict> posts;
    std::mutex postsMutex;
    std::unique_ptr<MovStages> engine;

    void SetUp() override {
        Pacing::setMode(Pacing::Mode::Zero);
        center.addObserver("", [this](const std::string&, const NotifDict& info) {
            std::lock_guard<std::mutex> lock(postsMutex);
            posts.push_back(info);
        });
    }

    MovStages& prepare(const std::vector<uint8_t>& damaged) { return prepareFile(dir.write("damaged.mov", damaged)); }

    // The stages over this damaged file; the reference's products are set by each test.
    MovStages& prepareFile(const std::string& path) {
        engine = std::make_unique<MovStages>();
        engine->open("", path);
        engine->setNotificationCenter(&center);
        return *engine;
    }

    // Creates the result (which decides the header size) and runs the path.
    bool scanVariants() {
        EXPECT_TRUE(engine->createTemporaryResult(dir.file("result.mov")));
        const bool ok = engine->runVariantScan();
        engine->result.outputfile.close();
        return ok;
    }
    bool scanMjpeg() {
        EXPECT_TRUE(engine->createTemporaryResult(dir.file("result.mov")));
        const bool ok = engine->runMjpegScan();
        engine->result.outputfile.close();
        return ok;
    }

    std::vector<uint8_t> result() const { return readWholeFile(dir.file("result.mov")); }

    // Runs the dispatch and checks that it chose `marker`.
    void scanAs(const std::string& marker) {
        ASSERT_TRUE(scanVariants());
        ASSERT_EQ(engine->report.scanMarker, marker);
    }

    // The bytes of the damaged file at [position, position + length).
    static std::vector<uint8_t> slice(const std::vector<uint8_t>& bytes, uint64_t position, uint64_t length) {
        if (position > bytes.size() || length > bytes.size() - position) return {};
        return {bytes.begin() + static_cast<std::ptrdiff_t>(position),
                bytes.begin() + static_cast<std::ptrdiff_t>(position + length)};
    }

    std::vector<std::string> statuses() {
        std::lock_guard<std::mutex> lock(postsMutex);
        std::vector<std::string> out;
        for (const NotifDict& d : posts)
            if (auto s = notifString(d, "status")) out.push_back(*s);
        return out;
    }
};

// The same, with the system log's lines collected in logLines.
class LoggingScanFixture : public ScanFixture {
protected:
    void SetUp() override {
        ScanFixture::SetUp();
        SystemLog::setSink([this](std::string_view line) {
            std::lock_guard<std::mutex> lock(postsMutex);
            logLines.emplace_back(line);
        });
    }
    void TearDown() override { SystemLog::silence(); }

    std::vector<std::string> logLines;
};

// Units expected in the tables, in result order.
struct Expected {
    uint64_t resultOffset;
    uint64_t length;
};

inline std::vector<Expected> videoTable(const MovStages& e) {
    std::vector<Expected> out;
    for (size_t i = 0; i < e.tables.video_buffer_start.size() && i < e.tables.video_buffer_size.size(); ++i)
        out.push_back({e.tables.video_buffer_start[i], e.tables.video_buffer_size[i]});
    return out;
}

inline std::vector<Expected> audioTable(const MovStages& e) {
    std::vector<Expected> out;
    for (size_t i = 0; i < e.tables.Audio_buffer_start.size() && i < e.tables.Audio_buffer_size.size(); ++i)
        out.push_back({e.tables.Audio_buffer_start[i], e.tables.Audio_buffer_size[i]});
    return out;
}

inline bool operator==(const Expected& a, const Expected& b) {
    return a.resultOffset == b.resultOffset && a.length == b.length;
}

inline std::ostream& operator<<(std::ostream& os, const Expected& e) {
    return os << "{" << e.resultOffset << ", " << e.length << "}";
}

// The result a scan should leave: reserved header bytes, then the units in the
// order they are taken, with the tables that describe them.
class ExpectedResult {
public:
    ExpectedResult(const std::vector<uint8_t>& source, uint64_t headerSize)
        : source_(source), bytes_(headerSize, uint8_t{0}) {}

    ExpectedResult& video(MediaDataBuilder::Unit u) {
        video_.push_back({bytes_.size(), u.length});
        copy(u);
        return *this;
    }
    ExpectedResult& audio(MediaDataBuilder::Unit u) {
        audio_.push_back({bytes_.size(), u.length});
        copy(u);
        return *this;
    }

    const std::vector<Expected>& videoTable() const { return video_; }
    const std::vector<Expected>& audioTable() const { return audio_; }
    const std::vector<uint8_t>& bytes() const { return bytes_; }
    uint64_t videoBytes() const {
        uint64_t n = 0;
        for (const Expected& e : video_) n += e.length;
        return n;
    }
    uint64_t audioBytes() const {
        uint64_t n = 0;
        for (const Expected& e : audio_) n += e.length;
        return n;
    }

private:
    void copy(MediaDataBuilder::Unit u) {
        bytes_.insert(bytes_.end(), source_.begin() + static_cast<std::ptrdiff_t>(u.position),
                      source_.begin() + static_cast<std::ptrdiff_t>(u.position + u.length));
    }

    const std::vector<uint8_t>& source_;
    std::vector<uint8_t> bytes_;
    std::vector<Expected> video_;
    std::vector<Expected> audio_;
};

// Compares the engine's tables, counters and result file with what was expected.
inline void expectScanResult(const MovStages& e, const std::vector<uint8_t>& resultBytes,
                             const ExpectedResult& expected) {
    EXPECT_EQ(videoTable(e), expected.videoTable());
    EXPECT_EQ(audioTable(e), expected.audioTable());
    EXPECT_EQ(e.tables.sample_count(), expected.videoTable().size());
    EXPECT_EQ(e.tables.Avc_audioCount(), expected.audioTable().size());
    EXPECT_EQ(e.tables.Sum_video, expected.videoBytes());
    EXPECT_EQ(e.tables.sum_audio, expected.audioBytes());
    EXPECT_EQ(resultBytes, expected.bytes());
}

}  // namespace arbel::test
