#include "json_writer.h"
#include "options.h"

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

TEST(JsonReport, TextIsEscapedAndNumbersAreBare) {
    JsonObject o;
    o.add("path", std::string("a \"b\"\\c\n\x01")).add("n", uint64_t{18446744073709551615ull}).add("ok", true).addNull("x");
    EXPECT_EQ(o.str(), "{\"path\": \"a \\\"b\\\"\\\\c\\n\\u0001\", \"n\": 18446744073709551615, \"ok\": true, \"x\": null}");
}

}  // namespace
}  // namespace arbel::cli
