// What the repair tells the window and when, and how it answers pause and stop.
#include "avi_engine_fixture.h"

#include "platform/file_system.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace arbel {
namespace {

using test::Bytes;
using test::mediaChunk;

class AviRepairProtocol : public test::AviEngineTest {
protected:
    // Chunks spread over the whole 600 KiB, so the scan has many sectors of work.
    static Bytes spreadFile() {
        Bytes b = test::aviHeader();
        while (b.size() < test::kRepairableSize) b.append(mediaChunk("00dc", 3000)).append(mediaChunk("01wb", 1000));
        return b.text("idx1");
    }

    size_t indexOf(const std::string& status, double progress) const {
        auto all = notes.posted();
        for (size_t k = 0; k < all.size(); ++k)
            if (notifString(all[k], "status") == status && notifNumber(all[k], "progress") == progress) return k;
        return SIZE_MAX;
    }

    template <typename Condition>
    static bool waitFor(Condition condition) {
        for (int k = 0; k < 2000 && !condition(); ++k) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return condition();
    }
};

TEST_F(AviRepairProtocol, StatusesComeInOrderAndTheScanSaysItsStatusOnce) {
    auto engine = repair(spreadFile());
    ASSERT_GT(engine->numberofsectors, 500u);

    EXPECT_EQ(notes.statusCount("Locating audio / video data forks..", 50.0), 1u);
    EXPECT_EQ(notes.statusCount("Locating audio / video data forks..", 70.0), 1u);
    EXPECT_EQ(notes.statusCount("Repairing the file..", 80.0), 1u);
    EXPECT_EQ(notes.completed(), 1u);
    EXPECT_EQ(notes.refused(), 0u);

    const size_t analyzing = indexOf("Analyzing the file..", 10.0);
    const size_t locating = indexOf("Locating audio / video data forks..", 50.0);
    const size_t scanning = indexOf("Locating audio / video data forks..", 70.0);
    const size_t repairing = indexOf("Repairing the file..", 80.0);
    const size_t completed = indexOf("Repair completed.", 100.0);
    EXPECT_LT(analyzing, locating);
    EXPECT_LT(locating, scanning);
    EXPECT_LT(scanning, repairing);
    EXPECT_LT(repairing, completed);
    EXPECT_EQ(completed, notes.posted().size() - 1);  // the outcome is the last word
    // Codec and track keys never ride along with a status.
    for (const NotifDict& d : notes.posted()) EXPECT_TRUE(d.size() == 1 || d.count("status") || d.count("unrepair"));
}

TEST_F(AviRepairProtocol, AStopBeforeTheStartPostsNothingAndWritesNothing) {
    choose(spreadFile());
    requestStop();
    auto engine = makeEngine();
    ASSERT_TRUE(engine->fileValidityCheck());
    engine->retrieveAudioVideoSamples();
    EXPECT_TRUE(notes.posted().empty());
    EXPECT_FALSE(fs::exists(resultPath()));
}

TEST_F(AviRepairProtocol, AStopDuringTheScanSkipsTheRestAndPostsNoOutcome) {
    auto full = repair(spreadFile());
    const uint64_t allChunks = full->videosamplecount;

    notes.clear();
    std::remove(resultPath().c_str());
    choose(spreadFile());
    notes.onPost([this](const NotifDict& d) {
        if (notifNumber(d, "progress") == 70.0) requestStop();
    });
    auto engine = makeEngine();
    ASSERT_TRUE(engine->fileValidityCheck());
    engine->retrieveAudioVideoSamples();

    EXPECT_LT(engine->videosamplecount, allChunks / 10);  // only the first sector was looked at
    EXPECT_EQ(notes.refused(), 0u);
    EXPECT_EQ(notes.completed(), 0u);
    // The writer still ran, copied no chunk and removed what it had begun.
    EXPECT_EQ(notes.statusCount("Repairing the file..", 80.0), 1u);
    EXPECT_EQ(engine->bytesCopied, 0u);
    EXPECT_FALSE(fs::exists(resultPath()));
}

TEST_F(AviRepairProtocol, AStopWhileThePausedWriterWaitsEndsItWithoutAnOutcome) {
    choose(spreadFile());
    auto engine = makeEngine();
    ASSERT_TRUE(engine->fileValidityCheck());
    RepairFileAvi* running = engine.get();
    notes.onPost([running](const NotifDict& d) {
        if (notifNumber(d, "progress") == 80.0) running->setPauseRepairingAVI(true);
    });
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        running->retrieveAudioVideoSamples();
        finished = true;
    });

    ASSERT_TRUE(waitFor([&] { return fs::exists(resultPath()); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(finished.load());  // held at its first index entry
    // As the controller does: stop, then release the pause.
    requestStop();
    engine->setPauseRepairingAVI(false);
    worker.join();

    EXPECT_EQ(notes.refused(), 0u);
    EXPECT_EQ(notes.completed(), 0u);
    EXPECT_EQ(engine->bytesCopied, 0u);
    EXPECT_FALSE(fs::exists(resultPath()));  // no half-written result is left
}

TEST_F(AviRepairProtocol, APauseHoldsTheScanUntilResumed) {
    choose(spreadFile());
    auto engine = makeEngine();
    ASSERT_TRUE(engine->fileValidityCheck());
    RepairFileAvi* running = engine.get();
    notes.onPost([running](const NotifDict& d) {
        if (notifNumber(d, "progress") == 50.0) running->setPauseRepairingAVI(true);
    });
    std::thread worker([running] { running->retrieveAudioVideoSamples(); });

    ASSERT_TRUE(waitFor([&] { return notes.statusCount("Locating audio / video data forks..", 50.0) == 1; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(notes.statusCount("Locating audio / video data forks..", 70.0), 0u);
    EXPECT_EQ(notes.completed(), 0u);
    EXPECT_TRUE(engine->pauseRepairingAVI());

    engine->setPauseRepairingAVI(false);
    worker.join();
    EXPECT_EQ(notes.completed(), 1u);
    EXPECT_GT(engine->videosamplecount, 100u);
}

TEST_F(AviRepairProtocol, AStopAfterARefusalReasonPostsNoRefusal) {
    // Too small to repair, and the user stops during the header pass.
    Bytes small = test::aviHeader().append(mediaChunk("00dc", 100)).append(mediaChunk("01wb", 30)).text("idx1");
    choose(test::padTo(small, 100 * 1024));
    notes.onPost([this](const NotifDict& d) {
        if (notifNumber(d, "progress") == 10.0) requestStop();
    });
    auto engine = makeEngine();
    ASSERT_TRUE(engine->fileValidityCheck());
    engine->retrieveAudioVideoSamples();
    EXPECT_EQ(notes.refused(), 0u);
    EXPECT_EQ(notes.completed(), 0u);
    EXPECT_FALSE(fs::exists(resultPath()));
}

}  // namespace
}  // namespace arbel
