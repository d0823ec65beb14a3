// SPDX-License-Identifier: GPL-2.0-or-later
// The tool on real loop devices of 512- and 4096-byte sectors: what each run
// leaves, refuses and says, also with a standard stream closed, whose output
// must never reach the device.
#include "device.h"
#include "runner.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/blkpg.h>
#include <linux/fs.h>
#include <linux/loop.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/swap.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr uint64_t MiB = 1 << 20, DEVICE_SIZE = 8 * MiB;
constexpr int SECTOR_SIZES[] = {512, 4096};

using Device = DeviceTest;

// Every run starts from the pattern; afterwards exactly the range reads
// zeros: a loop device discards by punching holes in its file. Refused runs
// leave every byte as it was.
TEST_F(Device, ChangesExactlyTheRange)
{
	const std::string Z = "DEV: Zero-filled ", D = "DEV: Discarded ";
	const std::string ALIGN = " is not aligned to sector size ";
	const std::string SECDISCARD =
		"sectrim: DEV: BLKSECDISCARD ioctl failed: Operation not supported\n";
	const std::string BEYOND = "sectrim: DEV: offset is greater than device size\n";
	const tool_case cases[] = {
		{.args = "-z -o 1M -l 2M DEV", .zero_at = MiB, .zero_length = 2 * MiB},
		{.args = "-o 3M -l 2M DEV", .zero_at = 3 * MiB, .zero_length = 2 * MiB},
		{.args = "-z -v -o 1M -l 2M DEV",
		 .out = Z + "2097152 bytes from the offset 1048576\n",
		 .zero_at = MiB,
		 .zero_length = 2 * MiB},
		{.args = "-v -o 3M -l 2M DEV",
		 .out = D + "2097152 bytes from the offset 3145728\n",
		 .zero_at = 3 * MiB,
		 .zero_length = 2 * MiB},
		{.args = "-v DEV",
		 .out = D + "8388608 bytes from the offset 0\n",
		 .zero_length = DEVICE_SIZE},
		{.args = "-z -v DEV",
		 .out = Z + "8388608 bytes from the offset 0\n",
		 .zero_length = DEVICE_SIZE},
		// Stepped: 768 KiB chunks, the last one 256 KiB.
		{.args = "-z -v -o 4M -p 768K DEV",
		 .out = Z + "4194304 bytes from the offset 4194304\n",
		 .zero_at = 4 * MiB,
		 .zero_length = 4 * MiB},
		{.args = "-o 12K -l 2560K -p 1M DEV",
		 .zero_at = 12 * 1024,
		 .zero_length = 2560 * 1024},
		// Past the end, or wrapping past 2^64: up to the end. The length
		// itself need not be aligned once it is clamped.
		{.args = "-z -o 7M -l 5M DEV", .zero_at = 7 * MiB, .zero_length = MiB},
		{.args = "-z -o 6M -l 3000001 DEV", .zero_at = 6 * MiB, .zero_length = 2 * MiB},
		{.args = "-z -o 7M -l 18446744073709551104 DEV",
		 .zero_at = 7 * MiB,
		 .zero_length = MiB},
		// Nothing to do: no request, no line, success.
		{"-z -v -o 8M DEV"},
		{"-z -v -l 0 DEV"},
		{"-z -v -o 2M -l 0 -p 1M DEV"},
		// Refused.
		{"-o 100 DEV", 1, "", "sectrim: DEV: offset 100" + ALIGN + "SECTOR\n"},
		{.args = "-o 512 DEV",
		 .status = 1,
		 .err = "sectrim: DEV: offset 512" + ALIGN + "4096\n",
		 .only_sector = 4096},
		{.args = "-z -o 1M -l 512 DEV",
		 .status = 1,
		 .err = "sectrim: DEV: length 512" + ALIGN + "4096\n",
		 .only_sector = 4096},
		{"-z -l 1000 DEV", 1, "", "sectrim: DEV: length 1000" + ALIGN + "SECTOR\n"},
		{"-z -l 1048577 DEV", 1, "", "sectrim: DEV: length 1048577" + ALIGN + "SECTOR\n"},
		// A stepped range must end on a sector boundary too, unless it
		// runs to the device end: refused before its first chunk.
		{.args = "-v -z -o 4M -l 10000 -p 4096 DEV",
		 .status = 1,
		 .err = "sectrim: DEV: length 10000" + ALIGN + "SECTOR\n",
		 .calls = "GETSIZE64 SSZGET"},
		{.args = "-z -l 1.5MB -p 1M DEV",
		 .status = 1,
		 .err = "sectrim: DEV: length 1500000" + ALIGN + "SECTOR\n",
		 .calls = "GETSIZE64 SSZGET"},
		{.args = "-z -o 6M -l 3000001 -p 1M DEV",
		 .zero_at = 6 * MiB,
		 .zero_length = 2 * MiB},
		{"-z -l 4M -p 1000 DEV", 1, "", "sectrim: DEV: step 1000" + ALIGN + "SECTOR\n"},
		{"-z -v -o 8196K DEV", 1, "", BEYOND},
		{"-z -o 1T DEV", 1, "", BEYOND},
		// Alignment is checked before the bound.
		{"-z -o 1099511627777 DEV", 1, "",
		 "sectrim: DEV: offset 1099511627777" + ALIGN + "SECTOR\n"},
		// Loop devices cannot securely discard; the kernel's answer is passed on.
		{"-s -v DEV", 1, "", SECDISCARD},
		{"-s -o 1M -l 1M -p 512K DEV", 1, "", SECDISCARD},
		// A closed standard stream leaves the device a low descriptor: what
		// the tool writes to that stream must fail, not land on the device.
		{.args = "-z -o 64K -l 64K DEV",
		 .zero_at = 64 << 10,
		 .zero_length = 64 << 10,
		 .streams = STDOUT_CLOSED},
		{.args = "-v -z -o 64K -l 64K -p 4K DEV",
		 .status = 1,
		 .err = "sectrim: write error: Bad file descriptor\n",
		 .zero_at = 64 << 10,
		 .zero_length = 64 << 10,
		 .streams = STDOUT_CLOSED},
		{.args = "-z -o 64K -l 64K DEV",
		 .zero_at = 64 << 10,
		 .zero_length = 64 << 10,
		 .streams = STDERR_CLOSED},
		// The diagnostic is lost.
		{.args = "-z -o 1 DEV", .status = 1, .streams = STDERR_CLOSED},
		{.args = "-v -z -o 64K -l 64K DEV",
		 .zero_at = 64 << 10,
		 .zero_length = 64 << 10,
		 .streams = STDOUT_BROKEN_PIPE},
	};
	for (int sector : SECTOR_SIZES) {
		ASSERT_TRUE(attach(DEVICE_SIZE, sector));
		for (const tool_case &c : cases)
			expect_run(c, &dev, true, "sector size " + std::to_string(sector));
	}
}

// A link to the device is followed, and the name given printed, however odd.
TEST_F(Device, OddlyNamedLinkToTheDevice)
{
	ASSERT_TRUE(attach(DEVICE_SIZE, 512));
	temp_file base;
	const std::string link = base.path + " 100% %s%n\n%d";
	ASSERT_EQ(symlink(dev.path.c_str(), link.c_str()), 0) << strerror(errno);
	expect_runs(
		{
			{.out = link + ": Zero-filled 1048576 bytes from the offset 1048576\n",
			 .zero_at = MiB,
			 .zero_length = MiB,
			 .argv = {"-z", "-v", "-o", "1M", "-l", "1M", "-p", "256K", link}},
			{.status = 1,
			 .err = "sectrim: " + link +
				": offset 100 is not aligned to sector size 512\n",
			 .argv = {"-v", "-o", "100", link}},
			{.status = 1,
			 .err = "sectrim: " + link +
				": BLKSECDISCARD ioctl failed: Operation not supported\n",
			 .argv = {"-s", "-v", link}},
		},
		&dev, true);
	unlink(link.c_str());
}

// Started with standard output closed, the device lands on descriptor 1 and
// must be moved above the standard three; with no descriptor allowed there,
// the run ends before any request. The address sanitizer's runtime cannot
// start in a process without a free descriptor, so its builds leave it out.
#ifndef __SANITIZE_ADDRESS__
TEST_F(Device, NoDescriptorAboveTheStandardStreams)
{
	ASSERT_TRUE(fill_pattern(dev));
	const tool_result r = run_program(
		"/bin/sh",
		{"sh", "-c", "ulimit -n 3 && exec \"$0\" \"$@\"", SECTRIM_PATH, "-z", dev.path}, {},
		STDOUT_CLOSED);
	const std::string refused =
		": cannot move the descriptor above the standard streams: Invalid argument\n";
	EXPECT_EQ(r.status, 1) << r.err;
	EXPECT_EQ(r.err, "sectrim: " + dev.path + refused);
	EXPECT_TRUE(check_contents(dev, 0, 0));
}
#endif

// A read-only device opens for writing, but the kernel would refuse every
// request: refused before the first, also when forced.
TEST_F(Device, ReadOnlyDevice)
{
	ASSERT_TRUE(attach(DEVICE_SIZE, 4096));
	ASSERT_TRUE(fill_pattern(dev));
	loop_device ro;
	ASSERT_TRUE(attach_loop_device(&ro, dev.size, dev.sector_size, &dev));
	const std::string refused = "sectrim: DEV: the device is read-only\n";
	const struct {
		const char *args;
		int flags;
	} cases[] = {
		{"-v DEV", O_WRONLY | O_EXCL},
		{"-z -v -p 1M DEV", O_WRONLY | O_EXCL},
		{"-z -o 4M -l 4096 DEV", O_WRONLY | O_EXCL},
		{"-f -z DEV", O_WRONLY},
	};
	// Logged, so that a request would show.
	for (const auto &c : cases)
		expect_run({.args = c.args, .status = 1, .err = refused, .flags = c.flags}, &ro);
	EXPECT_TRUE(check_contents(dev, 0, 0));
}

// What the test builds on its device, taken down in reverse order also when
// an assertion ends the test early.
struct teardown {
	std::vector<std::function<void()>> steps;
	~teardown()
	{
		for (auto step = steps.rbegin(); step != steps.rend(); ++step)
			(*step)();
	}
};

// Partition number of dev, [start, start + length), added or deleted
// through the kernel: no partition table is written.
bool change_partition(const loop_device &dev, int op, int number, uint64_t start = 0,
		      uint64_t length = 0)
{
	blkpg_partition part = {};
	part.start = static_cast<long long>(start);
	part.length = static_cast<long long>(length);
	part.pno = number;
	blkpg_ioctl_arg arg = {op, 0, sizeof part, &part};
	return ioctl(dev.fd, BLKPG, &arg) == 0;
}

std::string partition_path(const std::string &disk, int number)
{
	const bool digit = !disk.empty() && isdigit(static_cast<unsigned char>(disk.back()));
	return disk + (digit ? "p" : "") + std::to_string(number);
}

// Whatever holds a device keeps the tool off it, and a whole disk while one
// of its partitions is held: refused before any request, every byte as it
// was. A partition beside a held one is free, and --force gets through.
TEST_F(Device, HeldDevicesAreRefused)
{
	ASSERT_TRUE(attach(DEVICE_SIZE, 512));
	teardown undo;
	if (!dev.disk) {
		// Partitions of a loop device exist only with partition scanning.
		loop_info64 info = {};
		ASSERT_EQ(ioctl(dev.fd, LOOP_GET_STATUS64, &info), 0) << strerror(errno);
		info.lo_flags |= LO_FLAGS_PARTSCAN;
		ASSERT_EQ(ioctl(dev.fd, LOOP_SET_STATUS64, &info), 0) << strerror(errno);
	}
	std::string part[4];
	for (int n = 1; n <= 3; n++) {
		ASSERT_TRUE(
			change_partition(dev, BLKPG_ADD_PARTITION, n, 2 * n * MiB - MiB, 2 * MiB))
			<< "partition " << n << ": " << strerror(errno);
		// They outlive a loop device: gone before it is detached.
		undo.steps.push_back([this, n] { change_partition(dev, BLKPG_DEL_PARTITION, n); });
		part[n] = partition_path(dev.path, n);
		for (int tries = 0; access(part[n].c_str(), F_OK) != 0 && tries < 100; tries++)
			usleep(10000);
	}
	const std::string BUSY = ": the device is in use: a mounted file system, active swap, a "
				 "device-mapper, md, LVM or bcache device on it, or another "
				 "exclusive opener holds it; use --force to work on it anyway\n";
	const int CLAIMED = O_WRONLY | O_EXCL;

	// Claimed by another program: here the test itself.
	int holder = open(part[1].c_str(), O_RDONLY | O_EXCL | O_CLOEXEC);
	ASSERT_GE(holder, 0) << part[1] << ": " << strerror(errno);
	undo.steps.push_back([&holder] { close(holder); });
	expect_runs(
		{
			{.args = "-z DEV",
			 .status = 1,
			 .err = "sectrim: DEV" + BUSY,
			 .flags = CLAIMED},
			{.args = "-s -v -p 1M DEV",
			 .status = 1,
			 .err = "sectrim: DEV" + BUSY,
			 .flags = CLAIMED},
			{.status = 1, .err = "sectrim: " + part[1] + BUSY, .argv = {"-z", part[1]}},
			{.zero_at = 5 * MiB, .zero_length = 2 * MiB, .argv = {"-z", part[3]}},
			{.args = "-f -z -o 7M -l 1M DEV",
			 .requests = "ZEROOUT 7340032 1048576",
			 .zero_at = 7 * MiB,
			 .zero_length = MiB,
			 .flags = O_WRONLY},
			{.status = 1,
			 .err = "sectrim: " + part[1] +
				": BLKSECDISCARD ioctl failed: Operation "
				"not supported\n",
			 .argv = {"-s", "-f", part[1]}},
		},
		&dev, true);
	close(std::exchange(holder, -1));

	// A mounted file system and active swap, each on a partition.
	const std::string precious(MiB / 2, 'x');
	char dir[] = "/tmp/hostkit-mount-XXXXXX";
	ASSERT_NE(mkdtemp(dir), nullptr) << strerror(errno);
	undo.steps.push_back([&dir] { rmdir(dir); });
	const std::string file = dir + std::string("/precious");
	const std::string mkfs = "mkfs.ext4 -q -F -E lazy_itable_init=0,lazy_journal_init=0 " +
				 part[1] + " && mkswap -q " + part[2];
	ASSERT_EQ(system(mkfs.c_str()), 0) << mkfs;
	ASSERT_EQ(mount(part[1].c_str(), dir, "ext4", 0, nullptr), 0) << strerror(errno);
	undo.steps.push_back([&dir] { umount2(dir, MNT_DETACH); });
	std::ofstream(file) << precious;
	sync();
	ASSERT_EQ(swapon(part[2].c_str(), 0), 0) << part[2] << ": " << strerror(errno);
	undo.steps.push_back([&part] { swapoff(part[2].c_str()); });
	expect_runs({
		{.status = 1, .err = "sectrim: " + dev.path + BUSY, .argv = {"-z", dev.path}},
		{.status = 1, .err = "sectrim: " + part[1] + BUSY, .argv = {"-z", "-v", part[1]}},
		{.status = 1, .err = "sectrim: " + part[2] + BUSY, .argv = {"-p", "4K", part[2]}},
		// Swap slots that nothing uses yet.
		{.argv = {"-f", "-z", "-o", "1M", "-l", "64K", part[2]}},
	});
	ASSERT_EQ(swapoff(part[2].c_str()), 0) << strerror(errno);
	ASSERT_EQ(umount(dir), 0) << strerror(errno);
	// Kept: the swap area's signature at the end of its first page, and
	// the file, read again from the device.
	char signature[10] = {};
	const long page = sysconf(_SC_PAGESIZE);
	const int swap_fd = open(part[2].c_str(), O_RDONLY | O_CLOEXEC);
	ASSERT_GE(swap_fd, 0) << strerror(errno);
	EXPECT_EQ(pread(swap_fd, signature, sizeof signature, page - 10), 10);
	close(swap_fd);
	EXPECT_EQ(std::string(signature, sizeof signature), "SWAPSPACE2");
	ASSERT_EQ(mount(part[1].c_str(), dir, "ext4", MS_RDONLY, nullptr), 0) << strerror(errno);
	EXPECT_EQ(file_text(file), precious);
}

// Data safety: whatever the mode, sector size, step and range, every byte
// outside the range stays, and after a zero-fill every byte inside reads
// zero. Sizes are in sectors, so that one table serves every sector size.
TEST_F(Device, OnlyTheRangeChanges)
{
	// Without zeroes a discard: the range may read anything.
	const struct {
		const char *flag, *verb;
		bool zeroes;
	} modes[] = {{"", "Discarded", false}, {"-z ", "Zero-filled", true}};
	// Steps: none, one that leaves a shorter last chunk of every range below,
	// and one larger than every range.
	constexpr uint64_t SECTORS = 256, STEPS[] = {0, 12, 64};
	// Offset and length as given; the last row runs past the end.
	const struct {
		const char *where;
		uint64_t offset, length;
	} ranges[] = {{"at the start", 0, 40},
		      {"in the middle", 100, 40},
		      {"up to the end", SECTORS - 40, 40},
		      {"clamped past the end", SECTORS - 26, 40}};
	// One run from the pattern, the range given in sectors of unit bytes.
	auto expect_range = [&](const auto &mode, uint64_t step, const auto &r, uint64_t unit) {
		const uint64_t end = std::min(SECTORS, r.offset + r.length);
		const std::string at = std::to_string(r.offset * unit),
				  stepped = step ? " -p " + std::to_string(step * unit) : "",
				  length = std::to_string(r.length * unit),
				  done = std::to_string((end - r.offset) * unit);
		expect_run({.args = "-v -o " + at + " -l " + length + " " + mode.flag + stepped +
				    " DEV",
			    .out = "DEV: " + std::string(mode.verb) + " " + done +
				   " bytes from the offset " + at + "\n",
			    .zero_at = r.offset * unit,
			    .zero_length = (end - r.offset) * unit,
			    .any_inside = !mode.zeroes},
			   &dev, true,
			   "sector size " + std::to_string(unit) + ", range " + r.where);
	};
	for (int sector : SECTOR_SIZES) {
		ASSERT_TRUE(attach(SECTORS * static_cast<uint64_t>(sector), sector));
		for (const auto &mode : modes)
			for (uint64_t step : STEPS)
				for (const auto &r : ranges)
					expect_range(mode, step, r, static_cast<uint64_t>(sector));
	}
}

} // namespace
