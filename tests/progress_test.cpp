// SPDX-License-Identifier: GPL-2.0-or-later
// Progress lines of verbose stepped runs: the one-second rule on sample
// readings, and whole runs replayed from the clock readings the fault
// library logs, so that the expected lines follow from the very times the
// tool saw and no test depends on how fast the machine is.
#include "device_range.h"
#include "loop_device.h"
#include "run_tool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cinttypes>
#include <sstream>
#include <string>
#include <vector>

namespace {

TEST(ProgressDue, AWholeSecondMustHavePassed)
{
	const struct {
		timeval last, now;
		bool due;
	} cases[] = {
		{{5, 900000}, {6, 500000}, false}, // seconds up by one, microseconds down
		{{5, 200000}, {6, 400000}, true},
		{{5, 900000}, {7, 100000}, true}, // seconds up by two
		{{5, 500000}, {6, 500000}, true}, // exactly one second
		{{5, 500000}, {6, 499999}, false},
		{{5, 500000}, {5, 999999}, false},
		{{0, 0}, {0, 0}, false}, // an unreadable clock never makes a line due
		{{-1, 0}, {0, 0}, true}, // signed comparisons
		{{6, 0}, {5, 0}, false},
	};
	for (const auto &c : cases)
		EXPECT_EQ(progress_due(&c.last, &c.now), c.due)
			<< c.last.tv_sec << "." << c.last.tv_usec << " -> " << c.now.tv_sec << "."
			<< c.now.tv_usec;
}

// The lines a run must print, worked out from its logged requests and clock
// readings by the rule the tool follows.
std::string replay(const std::vector<fault_event> &log, const std::string &dev, uint64_t offset,
		   const char *verb)
{
	std::vector<timeval> readings;
	std::vector<uint64_t> lengths;
	for (const fault_event &ev : log) {
		if (ev.name == "CLOCK")
			readings.push_back(ev.time_us < 0 ? timeval{0, 0}
							  : timeval{ev.time_us / 1000000,
								    ev.time_us % 1000000});
		else if (ev.name == "DISCARD" || ev.name == "ZEROOUT")
			lengths.push_back(ev.length);
	}
	if (readings.size() != lengths.size() + 1)
		return "<" + std::to_string(readings.size()) + " clock readings for " +
		       std::to_string(lengths.size()) + " requests>";
	std::string out;
	auto line = [&](uint64_t from, uint64_t bytes) {
		out += dev + ": " + verb + " " + std::to_string(bytes) + " bytes from the offset " +
		       std::to_string(from) + "\n";
	};
	timeval last = readings[0];
	uint64_t from = offset, done = 0;
	for (size_t i = 0; i < lengths.size(); i++) {
		done += lengths[i];
		if (progress_due(&last, &readings[i + 1])) {
			line(from, done);
			from += done;
			done = 0;
			last = readings[i + 1];
		}
	}
	if (done)
		line(from, done);
	return out;
}

size_t count_lines(const std::string &text)
{
	return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

class Progress : public ::testing::Test {
protected:
	loop_device dev;
	temp_file log;

	void SetUp() override
	{
		REQUIRE_LOOP_DEVICES();
		ASSERT_TRUE(attach_loop_device(&dev, 1 << 20, 512));
	}

	tool_result run(const std::vector<std::string> &args, std::vector<std::string> settings,
			stream_setup target = STREAMS_CAPTURED)
	{
		settings.push_back("FAULT_FAKE=1");
		settings.push_back("FAULT_SIZE=1073741824");
		return run_sectrim(with_device(args, dev.path), fault_env(log.path, settings),
				   target);
	}
};

// About three seconds of 100 ms requests, read through a pipe as a log
// would be: several lines, at least a second apart, each starting where
// the one before ended, and the first arriving while the work goes on.
TEST_F(Progress, SlowStepsReportAtMostOncePerSecond)
{
	const tool_result r = run({"-v", "-o", "1M", "-l", "30M", "-p", "1M", "DEV"},
				  {"FAULT_DELAY_MS=100"}, STDOUT_PIPE);
	ASSERT_EQ(r.status, 0) << r.err;
	const std::vector<fault_event> events = read_fault_log(log.path);
	EXPECT_EQ(r.out, replay(events, dev.path, 1 << 20, "Discarded"));
	EXPECT_GE(count_lines(r.out), 3u) << r.out;
	// Held in the buffer, the lines would arrive only at exit, after the
	// last request.
	const auto last_request =
		std::find_if(events.rbegin(), events.rend(),
			     [](const fault_event &ev) { return ev.name == "DISCARD"; });
	ASSERT_NE(last_request, events.rend());
	EXPECT_LT(r.first_out_us, last_request->time_us)
		<< "the first line arrived " << r.first_out_us - last_request->time_us
		<< " us after the last request went out";

	uint64_t from = 1 << 20, total = 0;
	std::istringstream lines(r.out);
	for (std::string l; std::getline(lines, l);) {
		unsigned long long bytes, offset;
		ASSERT_EQ(sscanf(l.c_str() + dev.path.size(),
				 ": Discarded %llu bytes from the offset %llu", &bytes, &offset),
			  2)
			<< l;
		EXPECT_EQ(offset, from) << l;
		from += bytes;
		total += bytes;
	}
	EXPECT_EQ(total, 30u << 20);
}

TEST_F(Progress, OnlyVerboseSteppedRunsReadTheClockPerChunk)
{
	const struct {
		std::vector<std::string> args;
		size_t readings;
		size_t lines;
	} cases[] = {
		{{"-l", "4M", "-p", "1M", "DEV"}, 1, 0}, // quiet: the reading before the walk
		{{"-v", "-l", "4M", "DEV"}, 1, 1},       // one request, one final line
		{{"-v", "-z", "-l", "4M", "-p", "1M", "DEV"}, 5, 1},
	};
	for (const auto &c : cases) {
		temp_file case_log;
		log.path.swap(case_log.path);
		const tool_result r = run(c.args, {});
		log.path.swap(case_log.path);
		EXPECT_EQ(r.status, 0) << command_text(c.args) << ": " << r.err;
		size_t readings = 0;
		for (const fault_event &ev : read_fault_log(case_log.path))
			readings += ev.name == "CLOCK";
		EXPECT_EQ(readings, c.readings) << command_text(c.args);
		EXPECT_EQ(count_lines(r.out), c.lines) << command_text(c.args) << ": " << r.out;
	}
}

// A quick stepped run prints one line for the whole range; an unreadable
// clock gives the same, and the walk goes on.
TEST_F(Progress, QuickOrClocklessRunsPrintOneFinalLine)
{
	for (const char *clock : {"FAULT_CLOCK_FAILS=0", "FAULT_CLOCK_FAILS=1"}) {
		temp_file case_log;
		log.path.swap(case_log.path);
		const tool_result r =
			run({"-v", "-z", "-o", "512", "-l", "8M", "-p", "64K", "DEV"}, {clock});
		log.path.swap(case_log.path);
		ASSERT_EQ(r.status, 0) << clock << ": " << r.err;
		const std::vector<fault_event> events = read_fault_log(case_log.path);
		EXPECT_EQ(r.out, replay(events, dev.path, 512, "Zero-filled")) << clock;
		const bool under_a_second =
			events.back().time_us - events.front().time_us < 1000000;
		if (under_a_second || std::string(clock).ends_with("1")) {
			EXPECT_EQ(r.out,
				  dev.path + ": Zero-filled 8388608 bytes from the offset 512\n")
				<< clock;
		}
	}
}

// The real device: every byte counted in the lines.
TEST_F(Progress, ZeroFillOfARealDeviceReportsEveryByte)
{
	const tool_result r = run_sectrim({"-v", "-z", "-p", "64K", dev.path});
	ASSERT_EQ(r.status, 0) << r.err;
	uint64_t total = 0;
	std::istringstream lines(r.out);
	for (std::string l; std::getline(lines, l);) {
		unsigned long long bytes = 0;
		sscanf(l.c_str() + dev.path.size(), ": Zero-filled %llu bytes", &bytes);
		total += bytes;
	}
	EXPECT_EQ(total, dev.size) << r.out;
	EXPECT_TRUE(check_contents(dev, 0, dev.size));
}

} // namespace
