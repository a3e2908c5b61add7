#include "json_writer.h"
#include "options.h"
#include "report_summary.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

namespace arbel::cli {
namespace {

std::optional<Options> parse(std::initializer_list<const char*> args, std::string& error) {
    std::vector<char*> argv{const_cast<char*>("arbel-repair")};
    for (const char* a : args) argv.push_back(const_cast<char*>(a));
    return parseOptions(static_cast<int>(argv.size()), argv.data(), error);
}

TEST(CommandLine, RepairWithAllOptions) {
    std::string error;
    auto o = parse({"repair", "--json", "-v", "--force", "-r", "ref.mov", "--output", "out.mov", "bad.MOV"}, error);
    ASSERT_TRUE(o) << error;
    EXPECT_EQ(o->command, "repair");
    EXPECT_EQ(o->damaged, "bad.MOV");
    EXPECT_EQ(o->reference, "ref.mov");
    EXPECT_EQ(o->output, "out.mov");
    EXPECT_TRUE(o->json && o->verbose && o->force);
}

TEST(CommandLine, HelpAndVersionWinWherever) {
    std::string error;
    EXPECT_EQ(parse({"repair", "--help"}, error)->command, "help");
    EXPECT_EQ(parse({"--version", "check"}, error)->command, "version");
    EXPECT_EQ(parse({"-h"}, error)->command, "help");
}

TEST(CommandLine, UsageErrorsAreNamed) {
    std::string error;
    EXPECT_FALSE(parse({}, error));
    EXPECT_EQ(error, "no command given");
    EXPECT_FALSE(parse({"fix", "a.mov"}, error));
    EXPECT_EQ(error, "unknown command fix");
    EXPECT_FALSE(parse({"check"}, error));
    EXPECT_EQ(error, "no damaged file given");
    EXPECT_FALSE(parse({"check", "a.mov", "b.mov"}, error));
    EXPECT_EQ(error, "unexpected argument b.mov");
    EXPECT_FALSE(parse({"check", "--reference"}, error));
    EXPECT_EQ(error, "option --reference needs a value");
    EXPECT_FALSE(parse({"check", "--colour", "a.mov"}, error));
    EXPECT_EQ(error, "unknown option --colour");
}

TEST(CommandLine, DoubleDashAllowsFileNamesThatLookLikeOptions) {
    std::string error;
    auto o = parse({"check", "--", "-odd.avi"}, error);
    ASSERT_TRUE(o) << error;
    EXPECT_EQ(o->damaged, "-odd.avi");
}

TEST(CommandLine, ScanChoiceAndVerify) {
    struct Case {
        std::vector<const char*> args;
        bool ok;
        ScanChoice scan;
        bool verify;
        std::string error;
    } cases[] = {
        {{"repair", "-r", "r.mov", "d.mov"}, true, ScanChoice::Auto, false, ""},
        {{"repair", "--scan", "camera", "-r", "r.mov", "d.mov"}, true, ScanChoice::Camera, false, ""},
        {{"repair", "--verify", "--scan", "codec", "d.avi"}, true, ScanChoice::Codec, true, ""},
        {{"repair", "--scan", "auto", "d.mov"}, true, ScanChoice::Auto, false, ""},
        {{"repair", "--scan", "fast", "d.mov"}, false, ScanChoice::Auto, false, "--scan takes auto, camera or codec, not fast"},
        {{"repair", "d.mov", "--scan"}, false, ScanChoice::Auto, false, "option --scan needs a value"},
    };
    for (const Case& c : cases) {
        std::vector<char*> argv{const_cast<char*>("arbel-repair")};
        for (const char* a : c.args) argv.push_back(const_cast<char*>(a));
        std::string error;
        const auto o = parseOptions(static_cast<int>(argv.size()), argv.data(), error);
        SCOPED_TRACE(c.args[1]);
        ASSERT_EQ(o.has_value(), c.ok) << error;
        EXPECT_EQ(error, c.error);
        if (!o) continue;
        EXPECT_EQ(o->scan, c.scan);
        EXPECT_EQ(o->verify, c.verify);
    }
}

TEST(RepairSummary, SaysTheScanAndWhatPlaysWhenVerified) {
    RepairReport r;
    r.outcome = RepairOutcome::Completed;
    r.container = "quicktime";
    r.scan = "codec-aware: H.264 + AAC";
    r.scanMarker = "codec";
    const std::string unverified = summaryJson(r).str();
    for (const char* key : {"verified", "decodedVideoFrames", "videoStart", "videoEnd", "decodedAudioSeconds",
                            "decodeErrors", "verification"})
        EXPECT_NE(unverified.find(std::string("\"") + key + "\": null"), std::string::npos) << key;
    EXPECT_EQ(summaryLines(r).back(), "scan: codec-aware: H.264 + AAC");

    r.playback = {true, true, 1234, 0.0, 41.2, 41.5, 2};
    const std::string verified = summaryJson(r).str();
    EXPECT_NE(verified.find("\"scan\": \"codec-aware: H.264 + AAC\", \"scanVariant\": \"codec\""), std::string::npos);
    EXPECT_NE(verified.find("\"verified\": true, \"decodedVideoFrames\": 1234, \"videoStart\": 0, \"videoEnd\": 41.2, "
                            "\"decodedAudioSeconds\": 41.5, \"decodeErrors\": 2"),
              std::string::npos)
        << verified;
    EXPECT_EQ(summaryLines(r).back(),
              "verified: Recovered 1,234 frames (0:00\u20130:41) and 0:41 of audio, 2 decode errors");
}

TEST(JsonReport, TextIsEscapedAndNumbersAreBare) {
    JsonObject o;
    o.add("path", std::string("a \"b\"\\c\n\x01")).add("n", uint64_t{18446744073709551615ull}).add("ok", true).addNull("x");
    EXPECT_EQ(o.str(), "{\"path\": \"a \\\"b\\\"\\\\c\\n\\u0001\", \"n\": 18446744073709551615, \"ok\": true, \"x\": null}");
}

}  // namespace
}  // namespace arbel::cli
