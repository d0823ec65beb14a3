// SPDX-License-Identifier: GPL-2.0-or-later
// Clock functions: the boot-time arithmetic, the clocks read, and the
// monotonic reading.
#include "clock.h"
#include "runner.h"

#include <gtest/gtest.h>

#include <climits>
#include <unistd.h>

namespace {

TEST(BootTime, SubtractsUptimeWithBorrow)
{
	const struct {
		timeval wall;
		timespec uptime;
		timeval boot;
	} cases[] = {
		{{100, 200}, {40, 500000}, {59, 999700}}, // borrow a second
		{{100, 900}, {40, 500000}, {60, 400}},    // no borrow
		{{100, 500}, {40, 500999}, {60, 0}},      // nanoseconds truncated
		{{100, 0}, {40, 999999999}, {59, 1}},     // borrow, nearly a whole second
		{{100, 0}, {100, 0}, {0, 0}},             // booted at the epoch
	};
	for (const auto &c : cases) {
		timeval boot = boot_time_from_uptime(&c.wall, &c.uptime);
		EXPECT_EQ(boot.tv_sec, c.boot.tv_sec) << c.wall.tv_sec << "." << c.wall.tv_usec;
		EXPECT_EQ(boot.tv_usec, c.boot.tv_usec) << c.wall.tv_sec << "." << c.wall.tv_usec;
	}
}

TEST(BootTime, FallbackHasNoMicroseconds)
{
	const timeval wall = {100, 999999};
	timeval boot = boot_time_from_uptime_seconds(&wall, 40);
	EXPECT_EQ(boot.tv_sec, 60);
	EXPECT_EQ(boot.tv_usec, 0);
}

TEST(BootTime, ReadsThePastWithinASecond)
{
	timeval boot, wall;
	ASSERT_EQ(boot_timestamp(&boot), 0);
	gettimeofday(&wall, nullptr);
	EXPECT_LT(boot.tv_sec, wall.tv_sec);
	EXPECT_GE(boot.tv_usec, 0);
	EXPECT_LE(boot.tv_usec, 999999);
	timeval again;
	ASSERT_EQ(boot_timestamp(&again), 0);
	EXPECT_LE(std::abs(again.tv_sec - boot.tv_sec), 1);
}

// The boot-time clock counts a suspend, the monotonic one does not; on a
// machine that never slept they agree, so the clock's id is read from the
// fault library's log of a run of the test above.
TEST(BootTime, ReadsTheBootTimeClock)
{
	char self[PATH_MAX];
	const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
	ASSERT_GT(n, 0);
	self[n] = '\0';
	temp_file log;
	const tool_result r =
		run_program(self, {self, "--gtest_filter=BootTime.ReadsThePastWithinASecond"},
			    fault_env(log.path));
	ASSERT_EQ(r.status, 0) << r.out << r.err;
	int boot_clock_reads = 0;
	for (const fault_event &ev : read_fault_log(log.path))
		boot_clock_reads += ev.name == "CLOCK" && ev.start == CLOCK_BOOTTIME;
	EXPECT_GT(boot_clock_reads, 0);
}

TEST(Monotonic, MovesForwardWithMicrosecondsInRange)
{
	timeval previous = {-1, 0};
	for (int i = 0; i < 1000; i++) {
		timeval now = {-1, -1};
		ASSERT_EQ(monotonic_timestamp(&now), 0);
		EXPECT_GE(now.tv_usec, 0);
		EXPECT_LE(now.tv_usec, 999999);
		EXPECT_TRUE(now.tv_sec > previous.tv_sec ||
			    (now.tv_sec == previous.tv_sec && now.tv_usec >= previous.tv_usec));
		previous = now;
	}
}

} // namespace
