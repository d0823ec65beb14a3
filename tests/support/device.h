// SPDX-License-Identifier: GPL-2.0-or-later
// Loop devices for tests over unlinked temporary files, of any size and sector
// size, patterned and read back past the page cache; their fixture. Needs root.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

// Attached with autoclear and held open by the record, so it also goes away
// if the test process dies; nothing else is ever detached.
struct loop_device {
	std::string path; // /dev/loopN; empty when not attached
	int fd = -1;      // read-write, O_DIRECT
	uint64_t size = 0;
	int sector_size = 0;
	bool disk = false; // a whole disk under HOSTKIT_TEST_DISK: closed, never detached

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

// The same over several disjoint spans of one device, each zeros or (with
// any_inside) anything; the pattern everywhere else.
struct device_span {
	uint64_t start, length;
	bool any_inside = false;
};
::testing::AssertionResult check_contents(const loop_device &dev, std::vector<device_span> spans);

// A test with a 1 MiB device of 512-byte sectors, which attach() trades;
// HOSTKIT_TEST_DISK=/dev/X gives it that whole disk instead (a virtual
// machine's). With no loop devices here it is skipped loudly, or fails under
// CI's HOSTKIT_REQUIRE_DEVICES=1; with them, failing to make one never skips.
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
