// The command-line program run as a user runs it: exit codes and messages.
#include "support/bytes.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <cstdio>
#include <filesystem>
#include <future>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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

// Repairs of the bundled samples, as a user runs them next to files of
// their own.
class SafeOutput : public Program {
protected:
    void SetUp() override {
        reference = copy("reference.mov", "reference.mov");
        damaged = copy("damaged.mov", "damaged.mov");
        referenceBytes = test::readWholeFile(reference);
        damagedBytes = test::readWholeFile(damaged);
    }
    std::string copy(const std::string& sample, const std::string& name) {
        const std::string to = dir.file(name);
        std::filesystem::copy_file(std::string(ARBEL_SAMPLES_DIR) + "/" + sample, to);
        return to;
    }
    ProgramRun repairTo(const std::string& output, const std::string& extra = "") {
        return run("repair " + extra + " -r " + q(reference) + " " + q(damaged) + " -o " + q(output));
    }
    void expectInputsUntouched() const {
        EXPECT_EQ(test::readWholeFile(reference), referenceBytes);
        EXPECT_EQ(test::readWholeFile(damaged), damagedBytes);
    }
    // Files in the folder other than the inputs and `expected`.
    std::vector<std::string> strayFiles(std::initializer_list<std::string> expected) const {
        std::vector<std::string> stray;
        for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
            const std::string name = entry.path().filename().string();
            if (name == "reference.mov" || name == "damaged.mov") continue;
            if (std::find(expected.begin(), expected.end(), name) == expected.end()) stray.push_back(name);
        }
        return stray;
    }
    static bool isMovie(const std::string& path) {
        const auto bytes = test::readWholeFile(path);
        return bytes.size() > 16 && std::string(bytes.begin() + 4, bytes.begin() + 8) == "mdat";
    }
    std::string reference, damaged;
    std::vector<uint8_t> referenceBytes, damagedBytes;
};

TEST_F(SafeOutput, WhatLiesAtTheOldPartialNameIsNeverFollowedTruncatedOrRemoved) {
    // A link to an input, or the user's own file, where the result used to be written.
    const std::string out = dir.file("out.mov");
    ASSERT_EQ(::symlink(damaged.c_str(), (out + ".partial").c_str()), 0);
    ProgramRun linked = repairTo(out);
    EXPECT_EQ(linked.code, 0) << linked.out;
    expectInputsUntouched();
    EXPECT_TRUE(isMovie(out));
    EXPECT_EQ(std::filesystem::read_symlink(out + ".partial"), damaged);

    const std::string own = dir.file("mine.mov");
    const std::vector<uint8_t> mine = test::Bytes().text("the user's own notes").vec();
    test::writeWholeFile(own + ".partial", mine);
    EXPECT_EQ(repairTo(own).code, 0);
    EXPECT_EQ(test::readWholeFile(own + ".partial"), mine);
    // A refusal (a reference with no movie atom) leaves it as well.
    const std::string noMovie = dir.write("plain.mov", test::Bytes().append(test::atom("mdat", test::Bytes().zeros(64))).append(test::atom("moov")));
    ProgramRun refused = run("repair --force -r " + q(noMovie) + " " + q(damaged) + " -o " + q(own));
    EXPECT_NE(refused.code, 0);
    EXPECT_EQ(test::readWholeFile(own + ".partial"), mine);
    EXPECT_EQ(strayFiles({"out.mov", "out.mov.partial", "mine.mov", "mine.mov.partial", "plain.mov"}),
              std::vector<std::string>{});
}

TEST_F(SafeOutput, AnOutputThatIsAnInputIsRefusedWhateverNamesIt) {
    // The reference under a hard link, a symbolic link, or itself; with --force too.
    ASSERT_EQ(::link(reference.c_str(), dir.file("hard.mov").c_str()), 0);
    ASSERT_EQ(::symlink(damaged.c_str(), dir.file("soft.mov").c_str()), 0);
    for (const char* name : {"hard.mov", "soft.mov", "reference.mov"}) {
        SCOPED_TRACE(name);
        ProgramRun r = repairTo(dir.file(name), "--force");
        EXPECT_EQ(r.code, 2) << r.out;
        EXPECT_NE(r.out.find("overwrite an input"), std::string::npos) << r.out;
    }
    expectInputsUntouched();
}

TEST_F(SafeOutput, TwoRepairsToOneOutputLeaveOneWholeResult) {
    const std::string out = dir.file("both.mov");
    auto first = std::async(std::launch::async, [&] { return repairTo(out); });
    auto second = std::async(std::launch::async, [&] { return repairTo(out); });
    const ProgramRun a = first.get(), b = second.get();
    // One wins; the other stops before it starts (2) or at its rename (3).
    EXPECT_TRUE((a.code == 0) != (b.code == 0)) << a.out << b.out;
    const ProgramRun& loser = a.code == 0 ? b : a;
    EXPECT_TRUE(loser.code == 2 || loser.code == 3) << loser.out;
    EXPECT_TRUE(isMovie(out));
    ProgramRun again = repairTo(dir.file("alone.mov"));
    ASSERT_EQ(again.code, 0);
    EXPECT_EQ(test::readWholeFile(out), test::readWholeFile(dir.file("alone.mov")));
    EXPECT_EQ(strayFiles({"both.mov", "alone.mov"}), std::vector<std::string>{});
}

TEST_F(SafeOutput, PlacesThatCannotHoldTheResultAreNamedWithTheirCause) {
    const std::string plain = dir.write("plain-file", test::Bytes().text("x").vec());
    struct Case {
        std::string output;
        int code;
        const char* says;
    };
    const Case cases[] = {
        {"", 2, "no file name"},
        {".", 2, "names a folder"},
        {dir.path(), 2, "names a folder"},
        {dir.file("missing/out.mov"), 3, "No such file or directory"},
        {plain + "/out.mov", 3, "Not a directory"},
        {"/proc/out.mov", 3, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.output);
        ProgramRun r = repairTo(c.output);
        EXPECT_EQ(r.code, c.code) << r.out;
        EXPECT_NE(r.out.find(c.says), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("Can not repair"), std::string::npos) << r.out;
    }
    EXPECT_FALSE(std::filesystem::exists(dir.file("missing")));
    expectInputsUntouched();
}

TEST_F(SafeOutput, AFullDiskIsAWriteFailureWithItsCause) {
    const std::string small = dir.file("small");
    ASSERT_EQ(::mkdir(small.c_str(), 0700), 0);
    if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=64k") != 0) GTEST_SKIP() << "no tmpfs can be mounted here";
    ProgramRun r = repairTo(small + "/out.mov");
    const auto leftover = std::distance(std::filesystem::directory_iterator(small), std::filesystem::directory_iterator());
    ::umount(small.c_str());
    EXPECT_EQ(r.code, 3) << r.out;
    EXPECT_NE(r.out.find("No space left on device"), std::string::npos) << r.out;
    EXPECT_EQ(leftover, 0);
    expectInputsUntouched();
}

TEST_F(SafeOutput, InputsThatAreNoRecordingOrTheSameFileTwiceAreNamed) {
    ASSERT_EQ(::mkfifo(dir.file("pipe.mov").c_str(), 0600), 0);
    ASSERT_EQ(::mkdir(dir.file("folder.mov").c_str(), 0700), 0);
    ASSERT_EQ(::link(damaged.c_str(), dir.file("again.mov").c_str()), 0);
    struct Case {
        std::string args;
        int code;
        const char* says;
    };
    const Case cases[] = {
        {"-r " + q(reference) + " " + q(dir.file("pipe.mov")), 2, "named pipe"},
        {"-r " + q(dir.file("folder.mov")) + " " + q(damaged), 2, "is a folder"},
        {"-r " + q(reference) + " " + q(dir.file("absent.mov")), 3, "No such file or directory"},
        {"-r " + q(dir.file("again.mov")) + " " + q(damaged), 2, "same file"},
        {"-r " + q(damaged) + " " + q(damaged), 2, "same file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        ProgramRun r = run("repair " + c.args + " -o " + q(dir.file("never.mov")));
        EXPECT_EQ(r.code, c.code) << r.out;
        EXPECT_NE(r.out.find(c.says), std::string::npos) << r.out;
    }
    EXPECT_FALSE(std::filesystem::exists(dir.file("never.mov")));
}

TEST_F(SafeOutput, JsonIsUtf8WhateverTheNames) {
    const std::string odd = dir.file("caf\xe9.mov");
    std::filesystem::copy_file(damaged, odd);
    ProgramRun r = run("repair --json -r " + q(reference) + " " + q(odd) + " -o " + q(dir.file("out-\xff.mov")));
    ASSERT_EQ(r.code, 0) << r.out;
    // The output path: replaced in "output", given byte for byte in "outputRaw".
    EXPECT_NE(r.out.find("\"output\": \"" + dir.file("out-\xef\xbf\xbd.mov") + "\""), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"outputRaw\": \"" + dir.file("out-\\\\xff.mov") + "\""), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find('\xff'), std::string::npos);
    ProgramRun check = run("check --json -r " + q(reference) + " " + q(odd));
    EXPECT_NE(check.out.find("\"damagedRaw\": \"" + dir.file("caf\\\\xe9.mov") + "\""), std::string::npos) << check.out;
    EXPECT_EQ(check.out.find('\xe9'), std::string::npos);
}

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
