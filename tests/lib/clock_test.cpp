// SPDX-License-Identifier: GPL-2.0-or-later
// Clock functions: the boot-time arithmetic and the monotonic reading.
#include "clock.h"

#include <gtest/gtest.h>

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
