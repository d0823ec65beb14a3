// SPDX-License-Identifier: GPL-2.0-or-later
// The tool's kernel requests seen and steered through the fault-injection
// library: the chunk walk request by request, failing requests, odd
// geometry, and device sizes near 2^64. The device is a small real loop
// device, so open and fstat are genuine; its size and the data requests are
// the library's.
#include "loop_device.h"
#include "run_tool.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr char GIB[] = "FAULT_SIZE=1073741824";
// 2^64 - 512: the largest device with 512-byte sectors.
constexpr char TOP[] = "FAULT_SIZE=18446744073709551104";

struct walk_case {
	std::vector<std::string> args; // "DEV" stands for the device
	const char *size;              // FAULT_SIZE setting
	std::vector<std::string> requests;
	std::string out;
};

class Faults : public ::testing::Test {
protected:
	loop_device dev;

	void SetUp() override
	{
		REQUIRE_LOOP_DEVICES();
		ASSERT_TRUE(attach_loop_device(&dev, 1 << 20, 512));
	}

	tool_result run(const std::vector<std::string> &args, const std::string &log,
			std::vector<std::string> settings)
	{
		return run_sectrim(with_device(args, dev.path), fault_env(log, settings));
	}

	std::string cmd(const std::vector<std::string> &args,
			const std::vector<std::string> &settings)
	{
		std::string text;
		for (const std::string &s : settings)
			text += s + " ";
		return text + command_text(with_device(args, dev.path));
	}
};

TEST_F(Faults, ChunkWalk)
{
	const walk_case cases[] = {
		{{"-v", "-o", "1M", "-l", "10M", "-p", "4M", "DEV"},
		 GIB,
		 {"DISCARD 1048576 4194304", "DISCARD 5242880 4194304", "DISCARD 9437184 2097152"},
		 "DEV: Discarded 10485760 bytes from the offset 1048576\n"},
		{{"-z", "-v", "-l", "10M", "-p", "4M", "DEV"},
		 GIB,
		 {"ZEROOUT 0 4194304", "ZEROOUT 4194304 4194304", "ZEROOUT 8388608 2097152"},
		 "DEV: Zero-filled 10485760 bytes from the offset 0\n"},
		{{"-s", "-v", "DEV"},
		 GIB,
		 {"SECDISCARD 0 1073741824"},
		 "DEV: Discarded 1073741824 bytes from the offset 0\n"},
		// Without a step, one request for the whole range.
		{{"-v", "-o", "1M", "-l", "10M", "DEV"},
		 GIB,
		 {"DISCARD 1048576 10485760"},
		 "DEV: Discarded 10485760 bytes from the offset 1048576\n"},
		{{"-l", "8M", "-p", "4M", "DEV"},
		 GIB,
		 {"DISCARD 0 4194304", "DISCARD 4194304 4194304"},
		 ""},
		{{"-l", "4M", "-p", "4M", "DEV"}, GIB, {"DISCARD 0 4194304"}, ""},
		{{"-l", "4M", "-p", "8M", "DEV"}, GIB, {"DISCARD 0 4194304"}, ""},
		// A step through the device end: the last chunk stops there.
		{{"-o", "1022M", "-p", "3M", "DEV"}, GIB, {"DISCARD 1071644672 2097152"}, ""},
		{{"-o", "1020M", "-l", "1G", "-p", "3M", "DEV"},
		 GIB,
		 {"DISCARD 1069547520 3145728", "DISCARD 1072693248 1048576"},
		 ""},
		{{"-v", "-o", "1G", "DEV"}, GIB, {}, ""},

		// Near 2^64: the whole device in one request, and in two steps
		// of 2^63 whose sum stays below 2^64.
		{{"-v", "DEV"},
		 TOP,
		 {"DISCARD 0 18446744073709551104"},
		 "DEV: Discarded 18446744073709551104 bytes from the offset 0\n"},
		{{"-z", "-v", "-p", "8E", "DEV"},
		 TOP,
		 {"ZEROOUT 0 9223372036854775808",
		  "ZEROOUT 9223372036854775808 9223372036854775296"},
		 "DEV: Zero-filled 18446744073709551104 bytes from the offset 0\n"},
		// Offset + the default length wraps: clamped to the size.
		{{"-v", "-o", "18446744073709550592", "DEV"},
		 TOP,
		 {"DISCARD 18446744073709550592 512"},
		 "DEV: Discarded 512 bytes from the offset 18446744073709550592\n"},
		// A length that wraps past 2^64 means "to the end".
		{{"-o", "18446744073709547520", "-l", "8192", "DEV"},
		 TOP,
		 {"DISCARD 18446744073709547520 3584"},
		 ""},
		// start + step overflows 64 bits: the chunk is cut to the end.
		{{"-o", "18446744073709547520", "-p", "15E", "DEV"},
		 TOP,
		 {"DISCARD 18446744073709547520 3584"},
		 ""},
		{{"-v", "-o", "18446744073709547520", "-p", "1024", "DEV"},
		 TOP,
		 {"DISCARD 18446744073709547520 1024", "DISCARD 18446744073709548544 1024",
		  "DISCARD 18446744073709549568 1024", "DISCARD 18446744073709550592 512"},
		 "DEV: Discarded 3584 bytes from the offset 18446744073709547520\n"},
		{{"-v", "-o", "18446744073709551104", "DEV"}, TOP, {}, ""},
	};
	for (const walk_case &c : cases) {
		temp_file log;
		const std::vector<std::string> settings = {"FAULT_FAKE=1", c.size};
		const tool_result r = run(c.args, log.path, settings);
		EXPECT_EQ(r.status, 0) << cmd(c.args, settings) << "\nstderr: " << r.err;
		EXPECT_EQ(r.out, with_device(c.out, dev.path)) << cmd(c.args, settings);
		EXPECT_EQ(r.err, "") << cmd(c.args, settings);
		EXPECT_EQ(request_texts(read_fault_log(log.path)), c.requests)
			<< cmd(c.args, settings);
	}
}

struct failure_case {
	std::vector<std::string> args;
	int fail_at;
	int error;
	std::string err; // before the errno text
	std::vector<std::string> requests;
};

// The failing request is the last one issued; nothing is reported, not
// even the chunks done before it.
TEST_F(Faults, FailingRequestEndsTheWalk)
{
	const failure_case cases[] = {
		{{"-v", "-p", "1M", "-l", "4M", "DEV"},
		 1,
		 EIO,
		 "sectrim: DEV: BLKDISCARD ioctl failed",
		 {"DISCARD 0 1048576"}},
		{{"-z", "-v", "-p", "1M", "-l", "4M", "DEV"},
		 2,
		 ENOSPC,
		 "sectrim: DEV: BLKZEROOUT ioctl failed",
		 {"ZEROOUT 0 1048576", "ZEROOUT 1048576 1048576"}},
		{{"-s", "-v", "-p", "1M", "-l", "4M", "DEV"},
		 4,
		 EOPNOTSUPP,
		 "sectrim: DEV: BLKSECDISCARD ioctl failed",
		 {"SECDISCARD 0 1048576", "SECDISCARD 1048576 1048576",
		  "SECDISCARD 2097152 1048576", "SECDISCARD 3145728 1048576"}},
		{{"-v", "-o", "1M", "DEV"},
		 1,
		 EPERM,
		 "sectrim: DEV: BLKDISCARD ioctl failed",
		 {"DISCARD 1048576 1072693248"}},
	};
	for (const failure_case &c : cases) {
		temp_file log;
		const std::vector<std::string> settings = {
			"FAULT_FAKE=1", GIB, "FAULT_FAIL_AT=" + std::to_string(c.fail_at),
			"FAULT_ERRNO=" + std::to_string(c.error)};
		const tool_result r = run(c.args, log.path, settings);
		EXPECT_EQ(r.status, 1) << cmd(c.args, settings);
		EXPECT_EQ(r.out, "") << cmd(c.args, settings);
		EXPECT_EQ(r.err, with_device(c.err, dev.path) + ": " + strerror(c.error) + "\n")
			<< cmd(c.args, settings);
		EXPECT_EQ(request_texts(read_fault_log(log.path)), c.requests)
			<< cmd(c.args, settings);
	}
}

struct geometry_case {
	std::vector<std::string> settings;
	std::vector<std::string> args;
	std::string err;
	std::vector<std::string> calls; // every call but clock readings
};

TEST_F(Faults, Geometry)
{
	const geometry_case cases[] = {
		// Failing geometry requests and sector sizes below one are in the
		// fault matrix.
		{{"FAULT_FAIL_GEOMETRY=sector", "FAULT_ERRNO=" + std::to_string(ENOTTY)},
		 {"DEV"},
		 "sectrim: DEV: BLKSSZGET ioctl failed: Inappropriate ioctl for device\n",
		 {"GETSIZE64", "SSZGET"}},
		// The checks use the sector size the kernel reports.
		{{"FAULT_SECTOR=1024"},
		 {"-o", "512", "DEV"},
		 "sectrim: DEV: offset 512 is not aligned to sector size 1024\n",
		 {"GETSIZE64", "SSZGET"}},
		{{"FAULT_SECTOR=1024", GIB},
		 {"-p", "1536", "DEV"},
		 "sectrim: DEV: length 1536 is not aligned to sector size 1024\n",
		 {"GETSIZE64", "SSZGET"}},
		{{"FAULT_SIZE=4096"},
		 {"-o", "8192", "DEV"},
		 "sectrim: DEV: offset is greater than device size\n",
		 {"GETSIZE64", "SSZGET"}},
	};
	for (const geometry_case &c : cases) {
		temp_file log;
		std::vector<std::string> settings = c.settings;
		settings.push_back("FAULT_FAKE=1");
		const tool_result r = run(c.args, log.path, settings);
		EXPECT_EQ(r.status, 1) << cmd(c.args, settings);
		EXPECT_EQ(r.out, "") << cmd(c.args, settings);
		EXPECT_EQ(r.err, with_device(c.err, dev.path)) << cmd(c.args, settings);
		EXPECT_EQ(request_names(read_fault_log(log.path)), c.calls)
			<< cmd(c.args, settings);
	}
}

// A one-byte sector size lets any range through, down to the byte.
TEST_F(Faults, ByteSectors)
{
	temp_file log;
	const tool_result r = run({"-v", "-o", "3", "-l", "10", "-p", "4", "DEV"}, log.path,
				  {"FAULT_FAKE=1", "FAULT_SECTOR=1", "FAULT_SIZE=12"});
	EXPECT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(r.out, dev.path + ": Discarded 9 bytes from the offset 3\n");
	EXPECT_EQ(request_texts(read_fault_log(log.path)),
		  (std::vector<std::string>{"DISCARD 3 4", "DISCARD 7 4", "DISCARD 11 1"}));
}

// Without FAULT_FAKE the requests reach the real device; the log still
// records them, with the geometry the kernel reported.
TEST_F(Faults, RealRequestsPassThrough)
{
	temp_file log;
	const tool_result r = run({"-z", "-v", "-p", "256K", "DEV"}, log.path, {});
	EXPECT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(r.out, dev.path + ": Zero-filled 1048576 bytes from the offset 0\n");
	EXPECT_EQ(request_texts(read_fault_log(log.path)),
		  (std::vector<std::string>{"ZEROOUT 0 262144", "ZEROOUT 262144 262144",
					    "ZEROOUT 524288 262144", "ZEROOUT 786432 262144"}));
}

// The delay lands between requests and the log's times show it: later
// timing tests rely on both.
TEST_F(Faults, DelayedRequestsAreStampedInOrder)
{
	temp_file log;
	const tool_result r =
		run({"-p", "256K", "DEV"}, log.path, {"FAULT_FAKE=1", "FAULT_DELAY_MS=40"});
	EXPECT_EQ(r.status, 0) << r.err;
	std::vector<fault_event> requests;
	for (const fault_event &ev : read_fault_log(log.path))
		if (ev.name == "DISCARD")
			requests.push_back(ev);
	ASSERT_EQ(requests.size(), 4u);
	for (size_t i = 1; i < requests.size(); i++)
		EXPECT_GE(requests[i].time_us - requests[i - 1].time_us, 40000)
			<< "requests " << i - 1 << " and " << i << " at " << requests[i - 1].time_us
			<< " and " << requests[i].time_us << " us";
}

} // namespace
