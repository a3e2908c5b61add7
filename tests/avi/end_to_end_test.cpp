// Real codecs: clips made by ffmpeg, damaged the ways recordings get damaged,
// repaired, then opened and decoded by ffmpeg.
#include "avi_engine_fixture.h"
#include "media_tools.h"

#include "platform/file_system.h"

#include <random>

namespace arbel {
namespace {

using test::ChunkEntry;

enum class Damage { Truncated, IndexRemoved, Overwritten };

struct Case {
    std::string clip;
    Damage damage;
};

std::string nameOf(const ::testing::TestParamInfo<Case>& info) {
    static const char* const kDamage[] = {"Truncated", "IndexRemoved", "Overwritten"};
    return info.param.clip + "_" + kDamage[static_cast<int>(info.param.damage)];
}

// The damaged file, and the stretch [lost, lostEnd) of the original whose
// bytes did not survive.
struct Damaged {
    std::vector<uint8_t> bytes;
    uint64_t lost = 0;
    uint64_t lostEnd = 0;
};

Damaged damage(const std::vector<uint8_t>& original, Damage kind) {
    Damaged d;
    if (kind == Damage::Truncated) {
        // The recording stopped: the tail with the index is gone, and a chunk is cut.
        d.lost = original.size() * 6 / 10 + 3;
        d.lostEnd = UINT64_MAX;
        d.bytes.assign(original.begin(), original.begin() + static_cast<std::ptrdiff_t>(d.lost));
    } else if (kind == Damage::IndexRemoved) {
        const std::string marker = "idx1";
        auto at = std::search(original.begin(), original.end(), marker.begin(), marker.end());
        d.lost = static_cast<uint64_t>(at - original.begin());
        d.lostEnd = UINT64_MAX;
        d.bytes.assign(original.begin(), at);
    } else {
        // 100 KB of the movie data overwritten with noise.
        d.bytes = original;
        d.lost = original.size() * 4 / 10;
        d.lostEnd = d.lost + 100000;
        std::mt19937 random(99);
        for (uint64_t k = d.lost; k < d.lostEnd; ++k) d.bytes[k] = static_cast<uint8_t>(random());
    }
    return d;
}

class AviEndToEnd : public test::AviEngineTest, public ::testing::WithParamInterface<Case> {
protected:
    void SetUp() override {
        test::AviEngineTest::SetUp();
        if (!test::haveProgram("ffmpeg") || !test::haveProgram("ffprobe")) GTEST_SKIP() << "ffmpeg is not installed";
    }
};

TEST_P(AviEndToEnd, TheRepairedFileOpensDecodesCleanlyAndKeepsTheChunksThatSurvived) {
    const std::string clip = test::cachedClip(GetParam().clip);
    ASSERT_FALSE(clip.empty()) << "ffmpeg could not make " << GetParam().clip;
    const std::vector<uint8_t> original = test::readWholeFile(clip);
    const std::vector<ChunkEntry> chunks = test::movieChunks(original);
    ASSERT_GT(chunks.size(), 300u);
    ASSERT_GT(original.size(), 1024u * 1024u);

    const Damaged damaged = damage(original, GetParam().damage);
    int64_t survivedVideo = 0, survivedAudio = 0;
    for (const ChunkEntry& c : chunks) {
        const bool intact = c.offset + 8 + c.size <= damaged.lost || c.offset >= damaged.lostEnd;
        if (!intact || c.size == 0) continue;
        if (c.id == "00dc" || c.id == "00db") ++survivedVideo;
        if (c.id == "01wb") ++survivedAudio;
    }
    ASSERT_GT(damaged.bytes.size(), 512u * 1024u);

    const test::InputGuard inputs({choose(damaged.bytes)});
    auto engine = makeEngine(dir.file("repaired.avi"));
    ASSERT_TRUE(engine->fileValidityCheck());
    engine->retrieveAudioVideoSamples();
    inputs.expectUnchanged();
    ASSERT_EQ(notes.completed(), 1u);
    ASSERT_EQ(notes.refused(), 0u);
    test::logResultHash(dir.file("repaired.avi"));

    const test::PacketCounts packets = test::probePackets(dir.file("repaired.avi"));
    EXPECT_EQ(packets.errors, "");
    std::printf("[ chunks   ] %s: survived %lld video, %lld audio; repaired file %lld video, %lld audio packets\n",
                nameOf({GetParam(), 0}).c_str(), static_cast<long long>(survivedVideo),
                static_cast<long long>(survivedAudio), static_cast<long long>(packets.video),
                static_cast<long long>(packets.audio));
    EXPECT_GE(packets.video * 100, survivedVideo * 95);
    EXPECT_GE(packets.audio * 100, survivedAudio * 95);
    EXPECT_LE(packets.video, survivedVideo);  // nothing but surviving chunks
    EXPECT_LE(packets.audio, survivedAudio);

    const test::ProgramResult decode =
        test::runProgram({"ffmpeg", "-v", "error", "-i", dir.file("repaired.avi"), "-f", "null", "-"});
    EXPECT_EQ(decode.exitCode, 0);
    EXPECT_EQ(decode.err, "");
}

INSTANTIATE_TEST_SUITE_P(RealCodecs, AviEndToEnd,
                         ::testing::Values(Case{"mjpeg_pcm", Damage::Truncated}, Case{"mjpeg_pcm", Damage::IndexRemoved},
                                           Case{"mjpeg_pcm", Damage::Overwritten}, Case{"mpeg4_mp3", Damage::Truncated},
                                           Case{"mpeg4_mp3", Damage::IndexRemoved},
                                           Case{"mpeg4_mp3", Damage::Overwritten}),
                         nameOf);

class AviCommandLine : public test::AviEngineTest {};

TEST_F(AviCommandLine, RepairsToTheNamedPathAndReportsWhatItFound) {
    if (!test::haveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
    const std::string clip = test::cachedClip("mjpeg_pcm");
    ASSERT_FALSE(clip.empty());
    const std::vector<uint8_t> original = test::readWholeFile(clip);
    const std::string damagedPath = dir.write("cut.avi", damage(original, Damage::Truncated).bytes);
    const std::string output = dir.file("fixed.avi");

    const test::InputGuard inputs({damagedPath});
    const test::ProgramResult run = test::runProgram({ARBEL_CLI_PATH, "repair", "--json", "--output", output, damagedPath});
    inputs.expectUnchanged();
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(fs::isRegularFile(output));
    EXPECT_FALSE(fs::exists(output + ".partial"));
    EXPECT_NE(run.out.find("{\"schema\": 1, \"outcome\": \"completed\", \"kind\": \"avi\""), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("\"videoCodec\": \"MJPG\""), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\"audioCodec\": \"PCM\""), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\"audioFormat\": \"0x0001\""), std::string::npos) << run.out;
    const test::PacketCounts packets = test::probePackets(output);
    EXPECT_NE(run.out.find("\"videoSamples\": " + std::to_string(packets.video)), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\"audioChunks\": " + std::to_string(packets.audio)), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\"outputBytes\": " + std::to_string(fs::fileSize(output).value_or(0))), std::string::npos);

    // Text summary, then a file that cannot be repaired: refused, nothing left behind.
    const test::ProgramResult text = test::runProgram({ARBEL_CLI_PATH, "repair", "--force", "--output", output, damagedPath});
    EXPECT_EQ(text.exitCode, 0);
    EXPECT_NE(text.out.find("video chunks: " + std::to_string(packets.video) + " ("), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("audio codec: PCM (format 0x0001)"), std::string::npos) << text.out;
    EXPECT_NE(text.err.find("Repair completed."), std::string::npos) << text.err;

    const std::string small = dir.write("small.avi", std::vector<uint8_t>(original.begin(), original.begin() + 400000));
    const test::ProgramResult refused =
        test::runProgram({ARBEL_CLI_PATH, "repair", "--output", dir.file("none.avi"), small});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find("Can not repair this file.."), std::string::npos) << refused.err;
    EXPECT_FALSE(fs::exists(dir.file("none.avi")));
    EXPECT_FALSE(fs::exists(dir.file("none.avi.partial")));
}

}  // namespace
}  // namespace arbel
