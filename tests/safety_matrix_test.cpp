// SPDX-License-Identifier: GPL-2.0-or-later
// Data safety on real loop devices: whatever the mode, sector size, step
// and range, a run leaves every byte outside the range it was given as it
// was, says what it did, and after a zero-fill every byte inside reads zero.
#include "loop_device.h"
#include "run_tool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// Sizes below are in sectors, so that one table serves every sector size.
constexpr uint64_t DEVICE_SECTORS = 256;

struct mode_column {
	const char *flag; // nullptr: the default mode
	const char *verb; // of the report line
	bool zeroes;      // the range must read zero afterwards
};
constexpr mode_column MODES[] = {{nullptr, "Discarded", false}, {"-z", "Zero-filled", true}};
constexpr int SECTOR_SIZES[] = {512, 4096};
// None, one that leaves a shorter last chunk of every range below, and one
// larger than every range.
constexpr uint64_t STEPS[] = {0, 12, 64};

struct range_row {
	const char *where;
	uint64_t offset;
	uint64_t length; // as given; the last row runs past the device end
};
constexpr range_row RANGES[] = {
	{"at the start", 0, 40},
	{"in the middle", 100, 40},
	{"up to the end", DEVICE_SECTORS - 40, 40},
	{"clamped past the end", DEVICE_SECTORS - 26, 40},
};

// The pattern outside [start, end); zeros inside when zeroes, anything
// there otherwise, since a discard promises nothing about what reads back.
::testing::AssertionResult only_range_changed(const loop_device &dev, uint64_t start, uint64_t end,
					      bool zeroes)
{
	std::vector<uint8_t> data;
	if (::testing::AssertionResult r = read_range(dev, 0, dev.size, &data); !r)
		return r;
	for (uint64_t at = 0; at < dev.size; at++) {
		const bool inside = at >= start && at < end;
		if (inside && !zeroes)
			continue;
		const uint8_t want = inside ? 0 : pattern_byte(at);
		if (data[at] != want)
			return ::testing::AssertionFailure()
			       << "byte " << at << (inside ? " inside" : " outside") << " ["
			       << start << ", " << end << "): expected " << int{want} << ", found "
			       << int{data[at]};
	}
	return ::testing::AssertionSuccess();
}

// One run from the pattern; every failure names the command line and the
// row it came from.
void check_run(const loop_device &dev, const mode_column &mode, uint64_t step,
	       const range_row &range)
{
	const auto unit = static_cast<uint64_t>(dev.sector_size);
	const uint64_t offset = range.offset * unit;
	const uint64_t end = std::min(dev.size, offset + range.length * unit);
	std::vector<std::string> args = {"-v", "-o", std::to_string(offset), "-l",
					 std::to_string(range.length * unit)};
	if (mode.flag)
		args.push_back(mode.flag);
	if (step) {
		args.push_back("-p");
		args.push_back(std::to_string(step * unit));
	}
	args.push_back(dev.path);
	const std::string what = command_text(args) + " (sector size " +
				 std::to_string(dev.sector_size) + ", range " + range.where + ")";

	ASSERT_TRUE(fill_pattern(dev)) << what;
	const tool_result r = run_sectrim(args);
	EXPECT_EQ(r.status, 0) << what << "\nstderr: " << r.err;
	EXPECT_EQ(r.err, "") << what;
	EXPECT_EQ(r.out, dev.path + ": " + mode.verb + " " + std::to_string(end - offset) +
				 " bytes from the offset " + std::to_string(offset) + "\n")
		<< what;
	EXPECT_TRUE(only_range_changed(dev, offset, end, mode.zeroes)) << what;
}

TEST(Safety, OnlyTheRangeChanges)
{
	REQUIRE_LOOP_DEVICES();
	for (int sector : SECTOR_SIZES) {
		loop_device dev;
		ASSERT_TRUE(attach_loop_device(&dev, DEVICE_SECTORS * static_cast<uint64_t>(sector),
					       sector));
		for (const mode_column &mode : MODES)
			for (uint64_t step : STEPS)
				for (const range_row &range : RANGES)
					check_run(dev, mode, step, range);
	}
}

} // namespace
