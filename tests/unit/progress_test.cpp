#include "progress/formatting.h"
#include "progress/notification.h"

#include <gtest/gtest.h>

#include <thread>

namespace arbel {
namespace {

TEST(TimeFormat, HoursMinutesSecondsWithDaysDropped) {
    EXPECT_EQ(getTimeFormStringForInterval(0), "00:00:00");
    EXPECT_EQ(getTimeFormStringForInterval(59), "00:00:59");
    EXPECT_EQ(getTimeFormStringForInterval(61), "00:01:01");
    EXPECT_EQ(getTimeFormStringForInterval(3599), "00:59:59");
    EXPECT_EQ(getTimeFormStringForInterval(3600), "01:00:00");
    EXPECT_EQ(getTimeFormStringForInterval(86400), "00:00:00");
    EXPECT_EQ(getTimeFormStringForInterval(90061), "01:01:01");
    EXPECT_EQ(getTimeFormStringForInterval(59.9), "00:00:59");
    EXPECT_EQ(getTimeFormStringForInterval(-5), "00:00:00");
}

TEST(SizeFormat, DecimalUnitsInSinglePrecision) {
    EXPECT_EQ(getFormattedStringForSize(0), "0.00 KB");
    EXPECT_EQ(getFormattedStringForSize(1), "0.00 KB");
    EXPECT_EQ(getFormattedStringForSize(512), "0.51 KB");
    EXPECT_EQ(getFormattedStringForSize(999999), "1000.00 KB");
    EXPECT_EQ(getFormattedStringForSize(1000000), "1.00 MB");
    EXPECT_EQ(getFormattedStringForSize(1048576), "1.05 MB");
    EXPECT_EQ(getFormattedStringForSize(123456789), "123.46 MB");
    EXPECT_EQ(getFormattedStringForSize(999999999), "1000.00 MB");
    EXPECT_EQ(getFormattedStringForSize(4294967295ull), "4.29 GB");
    EXPECT_EQ(getFormattedStringForSize(6000000000ull), "6.00 GB");
}

TEST(PercentText, ShortestDecimalFormWithPercentSign) {
    EXPECT_EQ(formatPercent(50.0), "50%");
    EXPECT_EQ(formatPercent(101.0), "101%");
    EXPECT_EQ(formatPercent(0.0), "0%");
    EXPECT_EQ(formatPercent(12.5), "12.5%");
}

TEST(RepairClockTicks, PausedTicksAreNotCountedAndStopEndsAfterCounting) {
    RepairClock clock;
    EXPECT_TRUE(clock.tick(false, false));
    EXPECT_TRUE(clock.tick(false, false));
    for (int i = 0; i < 10; ++i) EXPECT_TRUE(clock.tick(true, false));
    EXPECT_EQ(clock.display(), "00:00:02");
    // The tick that sees the stop still counts, then ends the clock.
    EXPECT_FALSE(clock.tick(false, true));
    EXPECT_EQ(clock.counterr(), 3.0);
    // A paused clock keeps running even when told to stop: the stop is seen
    // at the first unpaused tick.
    EXPECT_TRUE(clock.tick(true, true));
}

TEST(Notifications, DeliveredSynchronouslyOnThePostingThreadToMatchingObservers) {
    NotificationCenter center;
    std::vector<std::string> seen;
    std::thread::id deliveredOn;
    auto token = center.addObserver("notif", [&](const std::string& name, const NotifDict& info) {
        deliveredOn = std::this_thread::get_id();
        seen.push_back(name + ":" + notifString(info, "status").value_or("-"));
    });
    int any = 0;
    auto anyToken = center.addObserver("", [&](const std::string&, const NotifDict&) { ++any; });

    std::thread worker([&] {
        center.post("notif", progress::status("Analyzing the file..", 1.0));
        center.post("other", {});
    });
    const auto workerId = worker.get_id();
    worker.join();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0], "notif:Analyzing the file..");
    EXPECT_EQ(deliveredOn, workerId);
    EXPECT_EQ(any, 2);

    center.removeObserver(token);
    center.removeObserver(anyToken);
    center.post("notif", {});
    EXPECT_EQ(seen.size(), 1u);
    EXPECT_EQ(any, 2);
}

TEST(Notifications, ShapesCarryTheirKeysAndTypes) {
    const NotifDict status = progress::status("Repair completed.", 100.0);
    EXPECT_EQ(notifString(status, "status"), "Repair completed.");
    EXPECT_EQ(notifNumber(status, "progress"), 100.0);
    EXPECT_FALSE(notifString(status, "progress").has_value());  // a number, not a text

    const NotifDict failure = progress::unrepair("Can not repair this file..", 101.0);
    EXPECT_EQ(notifString(failure, "unrepair"), "Can not repair this file..");
    EXPECT_FALSE(failure.count("status"));

    const NotifDict fps = progress::single("fps", "30");
    EXPECT_EQ(fps.size(), 1u);
    EXPECT_EQ(notifString(fps, "fps"), "30");
}

}  // namespace
}  // namespace arbel
