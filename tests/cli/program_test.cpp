// The command-line program run as a user runs it: exit codes and messages.
#include "support/bytes.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <sys/wait.h>

namespace arbel {
namespace {

struct ProgramRun {
    int code;
    std::string out;  // stdout and stderr together
};

ProgramRun run(const std::string& args) {
    const std::string command = std::string(ARBEL_CLI_PATH) + " " + args + " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    ProgramRun result{-1, {}};
    if (!pipe) return result;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.out.append(buffer, n);
    const int status = ::pclose(pipe);
    result.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string q(const std::string& path) { return "'" + path + "'"; }

class Program : public ::testing::Test {
protected:
    test::TempDir dir;
};

TEST_F(Program, HelpVersionAndUsageErrors) {
    ProgramRun help = run("--help");
    EXPECT_EQ(help.code, 0);
    EXPECT_NE(help.out.find("Usage:"), std::string::npos);
    EXPECT_EQ(run("--version").code, 0);
    ProgramRun bad = run("repair");
    EXPECT_EQ(bad.code, 2);
    EXPECT_NE(bad.out.find("no damaged file given"), std::string::npos);
}

TEST_F(Program, QuickTimeNeedsAReferenceAndUnknownKindsAreRefused) {
    const std::string damaged = dir.write("clip.MOV", test::Bytes().text("....mdat").zeros(100));
    ProgramRun noRef = run("repair " + q(damaged));
    EXPECT_EQ(noRef.code, 2);
    EXPECT_NE(noRef.out.find("--reference"), std::string::npos);

    const std::string other = dir.write("clip.mkv", test::Bytes().zeros(10));
    EXPECT_EQ(run("check " + q(other)).code, 2);
    EXPECT_EQ(run("check " + q(dir.file("missing.avi"))).code, 3);
}

TEST_F(Program, NeverWritesOverAnInputOrAnExistingFile) {
    const std::string damaged = dir.write("clip.avi", test::Bytes().text("RIFF").zeros(2000));
    ProgramRun overInput = run("repair -o " + q(damaged) + " " + q(damaged));
    EXPECT_EQ(overInput.code, 2);
    EXPECT_NE(overInput.out.find("overwrite an input"), std::string::npos);
    EXPECT_EQ(test::readWholeFile(damaged).size(), 2004u);

    const std::string existing = dir.write("out.avi", test::Bytes().text("keep"));
    ProgramRun exists = run("repair -o " + q(existing) + " " + q(damaged));
    EXPECT_EQ(exists.code, 2);
    EXPECT_NE(exists.out.find("--force"), std::string::npos);
    EXPECT_EQ(test::readWholeFile(existing), test::Bytes().text("keep").vec());
}

TEST_F(Program, RefusedRepairLeavesNoResultBehind) {
    // Valid enough for the check, too small to repair.
    const std::string damaged = dir.write("clip.avi", test::Bytes().text("RIFF").zeros(2000));
    const std::string out = dir.file("fixed.avi");
    ProgramRun r = run("repair -o " + q(out) + " " + q(damaged));
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.out.find("Can not repair this file.."), std::string::npos);
    EXPECT_FALSE(std::fopen(out.c_str(), "rb"));
    EXPECT_FALSE(std::fopen((out + ".partial").c_str(), "rb"));
}

TEST_F(Program, CheckReportsEachFileAsJson) {
    const std::string ref = dir.write("ref.mov", test::Bytes().append(test::atom("mdat", test::Bytes().zeros(8)))
                                                     .append(test::atom("moov")));
    const std::string bad = dir.write("bad.mov", test::Bytes().fill(3000, 1));
    ProgramRun r = run("check --json -r " + q(ref) + " " + q(bad));
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.out.find("\"referenceValid\": true"), std::string::npos);
    EXPECT_NE(r.out.find("\"damagedValid\": false"), std::string::npos);
}

}  // namespace
}  // namespace arbel
