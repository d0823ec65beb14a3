// SPDX-License-Identifier: GPL-2.0-or-later
// The tool's kernel requests seen and steered through the fault library on a
// real loop device (open and fstat genuine): the request of a command line,
// the chunk walk, failing requests, odd geometry, sizes near 2^64.
#include "device.h"
#include "runner.h"

#include <gtest/gtest.h>

#include <fcntl.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <string>

namespace {

constexpr char GIB[] = "FAULT_FAKE=1 FAULT_SIZE=1073741824";
// 2^64 - 512: the largest device with 512-byte sectors.
constexpr char TOP[] = "FAULT_FAKE=1 FAULT_SIZE=18446744073709551104";

std::string fail(int at, int error)
{
	return "FAULT_FAIL_AT=" + std::to_string(at) + " FAULT_ERRNO=" + std::to_string(error);
}

using Faults = DeviceTest;

const std::string D = "DEV: Discarded ", Z = "DEV: Zero-filled ", FAILED = "sectrim: DEV: BLK",
		  ALIGN = " is not aligned to sector size 1024\n";

// Which request, over which range, a command line comes down to, and how
// the device is opened: for writing alone, and claimed unless forced. The
// requests are faked: only the fault log tells the modes apart.
TEST_F(Faults, OptionOrder)
{
	const std::string WHOLE = D + "1048576 bytes from the offset 0\n";
	const struct {
		const char *args, *requests;
		std::string out = "";
		int flags = O_WRONLY | O_EXCL;
	} cases[] = {
		{"DEV", "DISCARD 0 1048576"},
		{"-z DEV", "ZEROOUT 0 1048576"},
		{"-s DEV", "SECDISCARD 0 1048576"},
		{"-z -s DEV", "SECDISCARD 0 1048576"},
		{"-s -z DEV", "ZEROOUT 0 1048576"},
		{"--zeroout DEV --secure", "SECDISCARD 0 1048576"},
		{"-zs DEV", "SECDISCARD 0 1048576"},
		{"-sz DEV", "ZEROOUT 0 1048576"},
		{"-v DEV", "DISCARD 0 1048576", WHOLE},
		{"DEV -v", "DISCARD 0 1048576", WHOLE},
		{"DEV -o 4096 --verbose", "DISCARD 4096 1044480",
		 D + "1044480 bytes from the offset 4096\n"},
		{"-o 4096 -o 8192 DEV", "DISCARD 8192 1040384"},
		{"-l 4096 DEV -l 1024", "DISCARD 0 1024"},
		{"-p 512K -p 0 DEV", "DISCARD 0 1048576"},
		{"-p 0 -p 512K DEV", "DISCARD 0 524288, DISCARD 524288 524288"},
		{"-- DEV", "DISCARD 0 1048576"},
		{"-f DEV", "DISCARD 0 1048576", "", O_WRONLY},
		{"-z --force -v DEV", "ZEROOUT 0 1048576", Z + "1048576 bytes from the offset 0\n",
		 O_WRONLY},
	};
	for (const auto &c : cases)
		expect_run({.args = c.args,
			    .out = c.out,
			    .faults = "FAULT_FAKE=1",
			    .requests = c.requests,
			    .flags = c.flags},
			   &dev);
}

// The walk as the kernel sees it: a secure discard that succeeds, 64-bit
// values through the whole program, a real device, failing requests, and
// the geometry the checks go by. The walk's arithmetic is the planner's,
// tested on its own.
TEST_F(Faults, ChunkWalk)
{
	expect_runs(
		{
			{"-s -v DEV", 0, D + "1073741824 bytes from the offset 0\n", "", GIB,
			 "SECDISCARD 0 1073741824"},
			// Near 2^64: two steps of 2^63 whose sum stays below 2^64.
			{"-z -v -p 8E DEV", 0, Z + "18446744073709551104 bytes from the offset 0\n",
			 "", TOP,
			 "ZEROOUT 0 9223372036854775808, ZEROOUT 9223372036854775808 "
			 "9223372036854775296"},
			// Without FAULT_FAKE the requests reach the real device; the
			// log still records them, with the geometry the kernel
			// reported.
			{"-z -v -p 256K DEV", 0, Z + "1048576 bytes from the offset 0\n", "", "",
			 "ZEROOUT 0 262144, ZEROOUT 262144 262144, ZEROOUT 524288 262144, "
			 "ZEROOUT 786432 262144"},
			// The failing request is the last one issued; nothing is
			// reported, not even the chunks done before it.
			{"-v -p 1M -l 4M DEV", 1, "",
			 FAILED + "DISCARD ioctl failed: Input/output error\n",
			 GIB + (" " + fail(1, EIO)), "DISCARD 0 1048576"},
			{"-z -v -p 1M -l 4M DEV", 1, "",
			 FAILED + "ZEROOUT ioctl failed: No space left on device\n",
			 GIB + (" " + fail(2, ENOSPC)),
			 "ZEROOUT 0 1048576, ZEROOUT 1048576 1048576"},
			{"-s -v -p 1M -l 4M DEV", 1, "",
			 FAILED + "SECDISCARD ioctl failed: Operation not supported\n",
			 GIB + (" " + fail(4, EOPNOTSUPP)),
			 "SECDISCARD 0 1048576, SECDISCARD 1048576 1048576, "
			 "SECDISCARD 2097152 1048576, SECDISCARD 3145728 1048576"},
			{"-v -o 1M DEV", 1, "",
			 FAILED + "DISCARD ioctl failed: Operation not permitted\n",
			 GIB + (" " + fail(1, EPERM)), "DISCARD 1048576 1072693248"},
			// Failing geometry requests and sector sizes below one: see
			// the matrices.
			{"DEV", 1, "",
			 "sectrim: DEV: BLKSSZGET ioctl failed: Inappropriate ioctl for device\n",
			 "FAULT_FAIL_GEOMETRY=sector FAULT_ERRNO=" + std::to_string(ENOTTY) +
				 " FAULT_FAKE=1",
			 "", "GETSIZE64 SSZGET"},
			// The checks use the sector size the kernel reports.
			{"-o 512 DEV", 1, "", "sectrim: DEV: offset 512" + ALIGN,
			 "FAULT_SECTOR=1024 FAULT_FAKE=1", "", "GETSIZE64 SSZGET"},
			{"-p 1536 DEV", 1, "", "sectrim: DEV: step 1536" + ALIGN,
			 "FAULT_SECTOR=1024 FAULT_SIZE=1073741824 FAULT_FAKE=1", "",
			 "GETSIZE64 SSZGET"},
		},
		&dev);
}

// Wherever a request fails, the run stops there with status 1 and one
// diagnostic with the system's error text, issues and reports nothing more.
// Discard and zero-fill reach the real device: the chunks before the failure
// are done, nothing after; secure discard, beyond a loop device, is faked.
constexpr struct mode_column {
	const char *flag, *request, *logged;
	bool real;
} MODES[] = {{"-v ", "BLKDISCARD", "DISCARD", true},
	     {"-v -z ", "BLKZEROOUT", "ZEROOUT", true},
	     {"-v -s ", "BLKSECDISCARD", "SECDISCARD", false}};
constexpr int ERRORS[] = {EIO, EOPNOTSUPP, EINVAL};

std::string failed(const char *request, int error)
{
	return std::string("sectrim: DEV: ") + request + " ioctl failed: " + strerror(error) + "\n";
}

// Modes x {first, middle, last} of five 128 KiB chunks from 64 KiB on x errno.
TEST_F(Faults, FailingRequestMatrix)
{
	constexpr uint64_t OFFSET = 64 << 10, STEP = 128 << 10, CHUNKS = 5;
	for (const mode_column &mode : MODES)
		for (uint64_t fail_at : {uint64_t{1}, (CHUNKS + 1) / 2, CHUNKS})
			for (int error : ERRORS) {
				tool_case c = {.args = mode.flag +
						       std::string("-o 65536 -p 131072 DEV"),
					       .status = 1,
					       .err = failed(mode.request, error),
					       .faults = fail(static_cast<int>(fail_at), error) +
							 (mode.real ? "" : " FAULT_FAKE=1"),
					       .calls = "GETSIZE64 SSZGET",
					       .zero_at = OFFSET,
					       .zero_length = mode.real ? (fail_at - 1) * STEP : 0};
				for (uint64_t i = 0; i < fail_at; i++) {
					c.calls += std::string(" ") + mode.logged;
					c.requests += (i ? ", " : "") + std::string(mode.logged) +
						      " " + std::to_string(OFFSET + i * STEP) +
						      " " + std::to_string(STEP);
				}
				expect_run(c, &dev, true);
			}
}

// Modes x {size, sector size} request x errno: the run ends before any data
// request, with nothing faked that could hide a stray one.
TEST_F(Faults, FailingGeometryMatrix)
{
	const struct {
		const char *which, *request, *calls;
	} geometry[] = {{"size", "BLKGETSIZE64", "GETSIZE64"},
			{"sector", "BLKSSZGET", "GETSIZE64 SSZGET"}};
	for (const mode_column &mode : MODES)
		for (const auto &g : geometry)
			for (int error : ERRORS)
				expect_run({.args = mode.flag + std::string("DEV"),
					    .status = 1,
					    .err = failed(g.request, error),
					    .faults = std::string("FAULT_FAIL_GEOMETRY=") +
						      g.which +
						      " FAULT_ERRNO=" + std::to_string(error),
					    .calls = g.calls},
					   &dev, true);
}

// The kernel never reports a sector size of 0 or below, but every check
// divides by it: refused before any of them, with any range.
TEST_F(Faults, SectorSizeBelowOne)
{
	for (const mode_column &mode : MODES)
		for (int sector : {0, -1, -512, INT_MIN})
			for (const char *range : {"", "-l 0 ", "-o 1M -p 4096 "})
				expect_run({.args = mode.flag + std::string(range) + "DEV",
					    .status = 1,
					    .err = "sectrim: DEV: invalid sector size " +
						   std::to_string(sector) + "\n",
					    .faults = "FAULT_SECTOR=" + std::to_string(sector),
					    .calls = "GETSIZE64 SSZGET"},
					   &dev, true);
}

} // namespace
