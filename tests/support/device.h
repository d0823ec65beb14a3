// SPDX-License-Identifier: GPL-2.0-or-later
// Loop devices for tests, over an unlinked temporary file, of a chosen size
// and sector size, filled with a pattern and read back past the page cache;
// and the fixture that holds one. Needs root.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

// Attached with autoclear and held open by the record, so it also goes away
// if the test process dies; nothing else is ever detached.
struct loop_device {
	std::string path; // /dev/loopN; empty when not attached
	int fd = -1;      // read-write, O_DIRECT
	uint64_t size = 0;
	int sector_size = 0;

	loop_device() = default;
	~loop_device() { detach(); }
	void detach();
	loop_device(const loop_device &) = delete;
	loop_device &operator=(const loop_device &) = delete;
};

// Attach a zero-filled device of size bytes (a multiple of sector_size);
// or, given under, a read-only device over that one, held like any other.
::testing::AssertionResult attach_loop_device(loop_device *dev, uint64_t size, int sector_size,
					      const loop_device *under = nullptr);

// The pattern over the whole device: never a zero byte, and different from
// one sector to the next, so that a range moved by a sector shows.
::testing::AssertionResult fill_pattern(const loop_device &dev);

// The device holds the pattern outside [zero_start, zero_start +
// zero_length), zeros inside, or with any_inside anything (a discard
// promises nothing); the failure names the first wrong offset.
::testing::AssertionResult check_contents(const loop_device &dev, uint64_t zero_start,
					  uint64_t zero_length, bool any_inside = false);

// A test with a device of 1 MiB in 512-byte sectors; attach() trades it for
// another. Where loop devices cannot be made the test is skipped, loudly,
// or fails under HOSTKIT_REQUIRE_DEVICES=1 as CI sets; where they can, a
// failure to make one is never a skip.
class DeviceTest : public ::testing::Test {
protected:
	loop_device dev;
	void SetUp() override;
	::testing::AssertionResult attach(uint64_t size, int sector_size)
	{
		dev.detach();
		return attach_loop_device(&dev, size, sector_size);
	}
};
