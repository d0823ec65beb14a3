// SPDX-License-Identifier: GPL-2.0-or-later
// Failing kernel requests, through the fault-injection library: wherever a
// request fails and whatever the kernel answers, the run stops right there
// with status 1 and one diagnostic carrying the system's error text, issues
// nothing more and reports nothing. Discard and zero-fill reach the real
// loop device, so the device also shows that the chunks before the failure
// were done and nothing after it.
#include "loop_device.h"
#include "run_tool.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr uint64_t KiB = 1024;
constexpr uint64_t DEVICE_SIZE = 1024 * KiB;
// Five chunks of 128 KiB from 64 KiB on.
constexpr uint64_t OFFSET = 64 * KiB, STEP = 128 * KiB, CHUNKS = 5;

struct mode_column {
	const char *flag; // nullptr: the default mode
	const char *request;
	const char *logged;
	bool real; // a loop device cannot securely discard: faked
};
constexpr mode_column MODES[] = {
	{nullptr, "BLKDISCARD", "DISCARD", true},
	{"-z", "BLKZEROOUT", "ZEROOUT", true},
	{"-s", "BLKSECDISCARD", "SECDISCARD", false},
};
constexpr int ERRORS[] = {EIO, EOPNOTSUPP, EINVAL};

std::vector<std::string> verbose_args(const mode_column &mode, std::vector<std::string> rest)
{
	std::vector<std::string> args = {"-v"};
	if (mode.flag)
		args.push_back(mode.flag);
	args.insert(args.end(), rest.begin(), rest.end());
	return args;
}

std::string settings_text(const std::vector<std::string> &settings)
{
	std::string text;
	for (const std::string &s : settings)
		text += s + " ";
	return text;
}

struct expected_run {
	std::string err;
	std::vector<std::string> calls; // every call but clock readings
	std::vector<std::string> requests;
	uint64_t zero_start; // what the device reads as zeros afterwards
	uint64_t zero_length;
};

// Run from the pattern and compare everything a failed run leaves behind.
void check_failure(const loop_device &dev, const std::vector<std::string> &args,
		   const std::vector<std::string> &settings, const expected_run &want)
{
	const std::string what = settings_text(settings) + command_text(args);
	temp_file log;
	ASSERT_TRUE(fill_pattern(dev)) << what;
	const tool_result r = run_sectrim(args, fault_env(log.path, settings));
	EXPECT_EQ(r.status, 1) << what;
	EXPECT_EQ(r.out, "") << what;
	EXPECT_EQ(r.err, want.err) << what;
	const std::vector<fault_event> events = read_fault_log(log.path);
	EXPECT_EQ(request_names(events), want.calls) << what;
	EXPECT_EQ(request_texts(events), want.requests) << what;
	EXPECT_TRUE(check_contents(dev, want.zero_start, want.zero_length)) << what;
}

class FaultMatrix : public ::testing::Test {
protected:
	loop_device dev;

	void SetUp() override
	{
		REQUIRE_LOOP_DEVICES();
		ASSERT_TRUE(attach_loop_device(&dev, DEVICE_SIZE, 512));
	}
};

// Modes x {first, middle, last} request x errno.
TEST_F(FaultMatrix, FailingRequest)
{
	const std::vector<std::string> walk = {"-o", std::to_string(OFFSET), "-p",
					       std::to_string(STEP), dev.path};
	for (const mode_column &mode : MODES)
		for (uint64_t fail_at : {uint64_t{1}, (CHUNKS + 1) / 2, CHUNKS})
			for (int error : ERRORS) {
				expected_run want = {"sectrim: " + dev.path + ": " + mode.request +
							     " ioctl failed: " + strerror(error) +
							     "\n",
						     {"GETSIZE64", "SSZGET"},
						     {},
						     OFFSET,
						     mode.real ? (fail_at - 1) * STEP : 0};
				for (uint64_t i = 0; i < fail_at; i++) {
					const std::string text = std::string(mode.logged) + " " +
								 std::to_string(OFFSET + i * STEP) +
								 " " + std::to_string(STEP);
					want.calls.push_back(mode.logged);
					want.requests.push_back(text);
				}
				std::vector<std::string> settings = {
					"FAULT_FAIL_AT=" + std::to_string(fail_at),
					"FAULT_ERRNO=" + std::to_string(error)};
				if (!mode.real)
					settings.push_back("FAULT_FAKE=1");
				check_failure(dev, verbose_args(mode, walk), settings, want);
			}
}

// Modes x {size, sector size} request x errno: the run ends before any data
// request, with nothing faked that could hide a stray one.
TEST_F(FaultMatrix, FailingGeometryRequest)
{
	const struct {
		const char *which;
		const char *request;
		std::vector<std::string> calls;
	} geometry[] = {
		{"size", "BLKGETSIZE64", {"GETSIZE64"}},
		{"sector", "BLKSSZGET", {"GETSIZE64", "SSZGET"}},
	};
	for (const mode_column &mode : MODES)
		for (const auto &g : geometry)
			for (int error : ERRORS)
				check_failure(dev, verbose_args(mode, {dev.path}),
					      {std::string("FAULT_FAIL_GEOMETRY=") + g.which,
					       "FAULT_ERRNO=" + std::to_string(error)},
					      {"sectrim: " + dev.path + ": " + g.request +
						       " ioctl failed: " + strerror(error) + "\n",
					       g.calls,
					       {},
					       0,
					       0});
}

// The kernel never reports a sector size of 0 or below, but every check
// divides by it: refused before any of them, with any range.
TEST_F(FaultMatrix, SectorSizeBelowOne)
{
	const std::vector<std::string> ranges[] = {{}, {"-l", "0"}, {"-o", "1M", "-p", "4096"}};
	for (const mode_column &mode : MODES)
		for (int sector : {0, -1, -512, INT_MIN})
			for (const std::vector<std::string> &range : ranges) {
				std::vector<std::string> args = verbose_args(mode, range);
				args.push_back(dev.path);
				check_failure(dev, args, {"FAULT_SECTOR=" + std::to_string(sector)},
					      {"sectrim: " + dev.path + ": invalid sector size " +
						       std::to_string(sector) + "\n",
					       {"GETSIZE64", "SSZGET"},
					       {},
					       0,
					       0});
			}
}

} // namespace
