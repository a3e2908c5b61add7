// A repair stopped at any moment: at a thousand poll points drawn across
// both engines and every phase, the repair ends at once with no outcome, no
// result offered, and no file left behind.
#include "avi/avi_builder.h"
#include "engine/avi/repair_file_avi.h"
#include "engine/mov/repair_file.h"
#include "platform/pacing.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <random>

namespace arbel {
namespace {

// Stops the repair at its n-th poll point (0: never) and counts them all.
class StopAtPoll : public RepairControl {
public:
    explicit StopAtPoll(uint64_t n) : n_(n) {}
    bool poll() const override {
        if (++count_ == n_) const_cast<StopAtPoll*>(this)->requestStop();
        return RepairControl::poll();
    }
    uint64_t count() const { return count_; }

private:
    uint64_t n_;
    mutable std::atomic<uint64_t> count_{0};
};

struct Outcome {
    uint64_t polls = 0;
    RepairReport report;
    std::vector<NotifDict> posted;
};

class StopAnywhere : public ::testing::Test {
protected:
    void SetUp() override {
        Pacing::setMode(Pacing::Mode::Zero);
        // The results on a memory file system: a thousand repairs, each made durable.
        std::error_code ec;
        std::filesystem::create_directories(results, ec);
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(results, ec);
    }

    template <typename Engine, typename Repair>
    Outcome run(RepairRequest request, uint64_t stopAt, Repair repair) {
        Outcome r;
        NotificationCenter center;
        center.addObserver("", [&](const std::string&, const NotifDict& d) { r.posted.push_back(d); });
        auto control = std::make_shared<StopAtPoll>(stopAt);
        request.control = control;
        request.center = &center;
        request.resultPath = resultPath;
        std::filesystem::remove(resultPath);
        Engine engine(std::move(request));
        r.report = repair(engine);
        r.polls = control->count();
        return r;
    }

    // What must hold after a stop at poll point `at`.
    void expectStoppedCleanly(const Outcome& r, uint64_t at) {
        SCOPED_TRACE("stopped at poll " + std::to_string(at));
        EXPECT_EQ(r.report.outcome, RepairOutcome::Stopped);
        EXPECT_FALSE(r.report.completed());
        for (const NotifDict& d : r.posted) {
            EXPECT_FALSE(d.count("unrepair"));
            const auto progress = notifNumber(d, "progress");
            EXPECT_TRUE(!progress || *progress < kProgressCompleted) << notifString(d, "status").value_or("");
        }
        // Not even the result it was writing: a half file is no result, and may be gigabytes.
        for (const auto& entry : std::filesystem::directory_iterator(results))
            ADD_FAILURE() << entry.path().string() << ": a file the repair should not leave";
    }

    std::string results = "/dev/shm/arbel-stop-" + std::to_string(::getpid());
    std::string resultPath = results + "/result";
};

TEST_F(StopAnywhere, BothEnginesStopAtAnyPollPointWithoutAnOutcome) {
    test::TempDir dir;
    const std::string reference = std::string(ARBEL_SAMPLES_DIR) + "/reference.mov";
    const std::string damagedMov = std::string(ARBEL_SAMPLES_DIR) + "/damaged.mov";
    test::Bytes avi = test::aviHeader();
    while (avi.size() < 800 * 1024) avi.append(test::mediaChunk("00dc", 3000)).append(test::mediaChunk("01wb", 1000));
    const std::string damagedAvi = dir.write("damaged.avi", avi.text("idx1").vec());

    const auto repairMov = [](RepairFile& e) { return e.repairMOV(); };
    const auto repairAvi = [](RepairFileAvi& e) { return e.retrieveAudioVideoSamples(); };
    const Outcome fullMov = run<RepairFile>(RepairRequest::forFiles(damagedMov, reference), 0, repairMov);
    const Outcome fullAvi = run<RepairFileAvi>(RepairRequest::forFiles(damagedAvi), 0, repairAvi);
    ASSERT_TRUE(fullMov.report.completed());
    ASSERT_TRUE(fullAvi.report.completed());
    ASSERT_GT(fullMov.polls, 50u);
    ASSERT_GT(fullAvi.polls, 50u);

    std::mt19937_64 random(20261208);
    for (int i = 0; i < 500; ++i) {
        const uint64_t atMov = 1 + random() % fullMov.polls;
        expectStoppedCleanly(run<RepairFile>(RepairRequest::forFiles(damagedMov, reference), atMov, repairMov), atMov);
        const uint64_t atAvi = 1 + random() % fullAvi.polls;
        expectStoppedCleanly(run<RepairFileAvi>(RepairRequest::forFiles(damagedAvi), atAvi, repairAvi), atAvi);
        if (HasFailure()) break;
    }
}

}  // namespace
}  // namespace arbel
