// SPDX-License-Identifier: GPL-2.0-or-later
// Real block devices for tests: a loop device over an unlinked temporary
// file, of a chosen size and logical sector size, filled with a known byte
// pattern and read back past the page cache; and the fixture that holds one.
// Needs root.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

// Attached until the record goes out of scope. The device is created with
// autoclear and held open here, so it also goes away if the test process
// dies; nothing else is ever detached.
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

// Empty when loop devices can be made here, else why not.
std::string loop_devices_unavailable();

// Skip the test, loudly, where loop devices cannot be made; fail it instead
// under HOSTKIT_REQUIRE_DEVICES=1, as CI sets. Where they can be made, a
// failure to make one is a test failure, never a skip.
#define REQUIRE_LOOP_DEVICES()                                                                     \
	do {                                                                                       \
		const std::string why_not_ = loop_devices_unavailable();                           \
		if (why_not_.empty()) {                                                            \
		} else if (devices_required()) {                                                   \
			FAIL() << "no loop device under HOSTKIT_REQUIRE_DEVICES=1: " << why_not_;  \
		} else {                                                                           \
			GTEST_SKIP() << "*** DEVICE TEST NOT RUN: " << why_not_ << " ***";         \
		}                                                                                  \
	} while (0)
bool devices_required();

// Attach a zero-filled device of size bytes (a multiple of sector_size).
::testing::AssertionResult attach_loop_device(loop_device *dev, uint64_t size, int sector_size);

// Attach a read-only loop device over the device under, held and detached
// like any other.
::testing::AssertionResult attach_read_only_view(const loop_device &under, loop_device *view);

// The byte the pattern puts at a device offset: never zero, and different
// from one sector to the next, so a range moved by a sector shows.
uint8_t pattern_byte(uint64_t offset);

// Write the pattern over the whole device.
::testing::AssertionResult fill_pattern(const loop_device &dev);

// Read length bytes at offset, both multiples of the sector size, from the
// device itself rather than the page cache.
::testing::AssertionResult read_range(const loop_device &dev, uint64_t offset, uint64_t length,
				      std::vector<uint8_t> *data);

// The whole device holds the pattern outside [zero_start, zero_start +
// zero_length), and zeros inside, or anything there with any_inside (a
// discard promises nothing); the failure names the first wrong offset.
::testing::AssertionResult check_contents(const loop_device &dev, uint64_t zero_start,
					  uint64_t zero_length, bool any_inside = false);

// A test with a device of 1 MiB in 512-byte sectors, attached before the
// body runs; attach() trades it for another.
class DeviceTest : public ::testing::Test {
protected:
	loop_device dev;
	void SetUp() override
	{
		REQUIRE_LOOP_DEVICES();
		ASSERT_TRUE(attach_loop_device(&dev, 1 << 20, 512));
	}
	::testing::AssertionResult attach(uint64_t size, int sector_size)
	{
		dev.detach();
		return attach_loop_device(&dev, size, sector_size);
	}
};
