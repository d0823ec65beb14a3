// SPDX-License-Identifier: GPL-2.0-or-later
// Progress lines of verbose stepped runs, replayed from the fault log's clock
// readings (a line is due a whole second after the last), whatever the speed.
#include "device.h"
#include "runner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <sstream>
#include <string>
#include <vector>

namespace {

// The lines a run must print, from its logged requests and clocks (failed: 0).
std::string replay(const std::vector<fault_event> &log, const std::string &dev, uint64_t offset,
		   const char *verb)
{
	std::vector<int64_t> readings;
	std::vector<uint64_t> lengths;
	for (const fault_event &ev : log) {
		if (ev.name == "CLOCK")
			readings.push_back(std::max<int64_t>(ev.time_us, 0));
		else if (ev.name == "DISCARD" || ev.name == "ZEROOUT")
			lengths.push_back(ev.length);
	}
	if (readings.size() != lengths.size() + 1)
		return "<" + std::to_string(readings.size()) + " clock readings for " +
		       std::to_string(lengths.size()) + " requests>";
	std::string out;
	int64_t last = readings[0];
	uint64_t from = offset, done = 0;
	// The last chunk always ends with a line.
	for (size_t i = 0; i < lengths.size(); i++) {
		done += lengths[i];
		if (readings[i + 1] - last >= 1000000 || i + 1 == lengths.size()) {
			out += dev + ": " + verb + " " + std::to_string(done) +
			       " bytes from the offset " + std::to_string(from) + "\n";
			from += done;
			done = 0;
			last = readings[i + 1];
		}
	}
	return out;
}

// The lines' byte counts, which must add up, each line starting where the
// one before ended, the first at from.
uint64_t total_bytes(const std::string &out, const std::string &prefix, uint64_t from)
{
	uint64_t total = 0;
	std::istringstream lines(out);
	for (std::string l; std::getline(lines, l);) {
		unsigned long long bytes = 0, offset = 0;
		EXPECT_EQ(sscanf(l.c_str() + prefix.size(), " %llu bytes from the offset %llu",
				 &bytes, &offset),
			  2)
			<< l;
		EXPECT_EQ(offset, from + total) << l;
		total += bytes;
	}
	return total;
}

class Progress : public DeviceTest {
protected:
	temp_file log;

	// A faked 1 GiB device, "DEV" in args; the log is a fresh one.
	tool_result run(const std::string &args, const std::string &settings)
	{
		temp_file fresh;
		log.path.swap(fresh.path);
		const std::string faults = "FAULT_FAKE=1 FAULT_SIZE=1073741824 " + settings;
		return run_program(SECTRIM_PATH, words("sectrim " + args + " " + dev.path),
				   fault_env(log.path, words(faults)));
	}
};

// The delay lands between requests and the log's times show it: later
// timing tests rely on both.
TEST_F(Progress, DelayedRequestsAreStampedInOrder)
{
	const tool_result r = run("-l 1M -p 256K", "FAULT_DELAY_MS=40");
	EXPECT_EQ(r.status, 0) << r.err;
	std::vector<fault_event> requests = read_fault_log(log.path);
	std::erase_if(requests, [](const fault_event &ev) { return ev.name != "DISCARD"; });
	ASSERT_EQ(requests.size(), 4u);
	for (size_t i = 1; i < requests.size(); i++)
		EXPECT_GE(requests[i].time_us - requests[i - 1].time_us, 40000)
			<< "requests " << i - 1 << " and " << i << " at " << requests[i - 1].time_us
			<< " and " << requests[i].time_us << " us";
}

// About three seconds of 100 ms requests: several lines, each starting
// where the one before ended, the first arriving while the work goes on.
TEST_F(Progress, SlowStepsReportAtMostOncePerSecond)
{
	const tool_result r = run("-v -o 1M -l 30M -p 1M", "FAULT_DELAY_MS=100");
	ASSERT_EQ(r.status, 0) << r.err;
	const std::vector<fault_event> events = read_fault_log(log.path);
	EXPECT_EQ(r.out, replay(events, dev.path, 1 << 20, "Discarded"));
	EXPECT_GE(std::ranges::count(r.out, '\n'), 3) << r.out;
	// Held in the buffer, the lines would arrive only at exit, after the
	// last request.
	const auto last_request =
		std::ranges::find(events.rbegin(), events.rend(), "DISCARD", &fault_event::name);
	ASSERT_NE(last_request, events.rend());
	EXPECT_LT(r.first_out_us, last_request->time_us)
		<< "the first line arrived " << r.first_out_us - last_request->time_us
		<< " us after the last request went out";
	EXPECT_EQ(total_bytes(r.out, dev.path + ": Discarded", 1 << 20), 30u << 20);
}

TEST_F(Progress, OnlyVerboseSteppedRunsReadTheClockPerChunk)
{
	const struct {
		const char *args;
		size_t readings;
		long lines;
	} cases[] = {
		{"-l 4M -p 1M", 1, 0}, // quiet: the reading before the walk
		{"-v -l 4M", 1, 1},    // one request, one final line
		{"-v -z -l 4M -p 1M", 5, 1},
	};
	for (const auto &c : cases) {
		const tool_result r = run(c.args, "");
		EXPECT_EQ(r.status, 0) << c.args << ": " << r.err;
		const std::vector<fault_event> events = read_fault_log(log.path);
		EXPECT_EQ(std::ranges::count(events, "CLOCK", &fault_event::name), c.readings)
			<< c.args;
		// The raw clock: no adjustment of the system's time hurries a line.
		EXPECT_EQ(std::ranges::count_if(events,
						[](const fault_event &ev) {
							return ev.name == "CLOCK" &&
							       ev.start == CLOCK_MONOTONIC_RAW;
						}),
			  c.readings)
			<< c.args;
		EXPECT_EQ(std::ranges::count(r.out, '\n'), c.lines) << c.args << ": " << r.out;
	}
}

// A quick stepped run prints one line for the whole range; an unreadable
// clock gives the same, and the walk goes on.
TEST_F(Progress, QuickOrClocklessRunsPrintOneFinalLine)
{
	for (const char *clock : {"FAULT_CLOCK_FAILS=0", "FAULT_CLOCK_FAILS=1"}) {
		const tool_result r = run("-v -z -o 512 -l 8M -p 64K", clock);
		ASSERT_EQ(r.status, 0) << clock << ": " << r.err;
		const std::vector<fault_event> events = read_fault_log(log.path);
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
	const tool_result r =
		run_program(SECTRIM_PATH, {"sectrim", "-v", "-z", "-p", "64K", dev.path});
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(total_bytes(r.out, dev.path + ": Zero-filled", 0), dev.size) << r.out;
	EXPECT_TRUE(check_contents(dev, 0, dev.size));
}

} // namespace
