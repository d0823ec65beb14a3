// SPDX-License-Identifier: GPL-2.0-or-later
// The tool against real loop devices with 512- and 4096-byte sectors: what
// each run leaves on the device, what it refuses, and what it says.
#include "loop_device.h"
#include "run_tool.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr uint64_t MiB = 1 << 20;
constexpr uint64_t DEVICE_SIZE = 8 * MiB;
constexpr int SECTOR_SIZES[] = {512, 4096};
// A conversion, a blank and a line break, to be printed literally.
constexpr char ODD_NAME[] = " 100% %s%n\n%d";

std::string sector_text(std::string text, int sector)
{
	const std::string s = std::to_string(sector);
	for (size_t at = 0; (at = text.find("SECTOR", at)) != std::string::npos; at += s.size())
		text.replace(at, 6, s);
	return text;
}

struct wipe_case {
	std::vector<std::string> args; // the device is appended
	uint64_t zero_start;           // where the device must read zeros
	uint64_t zero_length;
	std::string out; // "DEV" stands for the device
};

// Every run starts from the pattern; afterwards exactly the range must read
// zeros. A loop device discards by punching holes in its file, so discarded
// ranges read zeros too.
TEST(Device, ChangesExactlyTheRange)
{
	REQUIRE_LOOP_DEVICES();
	const wipe_case cases[] = {
		{{"-z", "-o", "1M", "-l", "2M"}, MiB, 2 * MiB, ""},
		{{"-z", "-v", "-o", "1M", "-l", "2M"},
		 MiB,
		 2 * MiB,
		 "DEV: Zero-filled 2097152 bytes from the offset 1048576\n"},
		{{"-o", "3M", "-l", "2M"}, 3 * MiB, 2 * MiB, ""},
		{{"-v", "-o", "3M", "-l", "2M"},
		 3 * MiB,
		 2 * MiB,
		 "DEV: Discarded 2097152 bytes from the offset 3145728\n"},
		{{"-v"}, 0, DEVICE_SIZE, "DEV: Discarded 8388608 bytes from the offset 0\n"},
		{{"-z", "-v"},
		 0,
		 DEVICE_SIZE,
		 "DEV: Zero-filled 8388608 bytes from the offset 0\n"},
		// Stepped: 768 KiB chunks, the last one 256 KiB.
		{{"-z", "-v", "-o", "4M", "-p", "768K"},
		 4 * MiB,
		 4 * MiB,
		 "DEV: Zero-filled 4194304 bytes from the offset 4194304\n"},
		{{"-o", "12K", "-l", "2560K", "-p", "1M"}, 12 * 1024, 2560 * 1024, ""},
		// Past the end, or wrapping past 2^64: up to the end. The length
		// itself need not be aligned once it is clamped.
		{{"-z", "-o", "7M", "-l", "5M"}, 7 * MiB, MiB, ""},
		{{"-z", "-o", "6M", "-l", "3000001"}, 6 * MiB, 2 * MiB, ""},
		{{"-z", "-o", "7M", "-l", "18446744073709551104"}, 7 * MiB, MiB, ""},
		// Nothing to do: no request, no line, success.
		{{"-z", "-v", "-o", "8M"}, 0, 0, ""},
		{{"-z", "-v", "-l", "0"}, 0, 0, ""},
		{{"-z", "-v", "-o", "2M", "-l", "0", "-p", "1M"}, 0, 0, ""},
	};
	for (int sector : SECTOR_SIZES) {
		loop_device dev;
		ASSERT_TRUE(attach_loop_device(&dev, DEVICE_SIZE, sector));
		for (const wipe_case &c : cases) {
			ASSERT_TRUE(fill_pattern(dev));
			std::vector<std::string> args = c.args;
			args.push_back(dev.path);
			const std::string cmd = command_text(args) + " (sector size " +
						std::to_string(sector) + ")";
			const tool_result r = run_sectrim(args);
			EXPECT_EQ(r.status, 0) << cmd << "\nstderr: " << r.err;
			EXPECT_EQ(r.out, with_device(c.out, dev.path)) << cmd;
			EXPECT_EQ(r.err, "") << cmd;
			EXPECT_TRUE(check_contents(dev, c.zero_start, c.zero_length)) << cmd;
		}
	}
}

struct refusal_case {
	int sector;                    // the sector size the row is for; 0: every one
	std::vector<std::string> args; // the device is appended
	std::string err; // "DEV" and "SECTOR" stand for the device and its sector size
};

// Refused runs exit 1 with one exact diagnostic, print nothing on standard
// output, and leave every byte as it was.
TEST(Device, RefusesAndLeavesTheDeviceAlone)
{
	REQUIRE_LOOP_DEVICES();
	const refusal_case cases[] = {
		{0,
		 {"-o", "100"},
		 "sectrim: DEV: offset 100 is not aligned to sector size SECTOR\n"},
		{4096,
		 {"-o", "512"},
		 "sectrim: DEV: offset 512 is not aligned to sector size 4096\n"},
		{4096,
		 {"-z", "-o", "1M", "-l", "512"},
		 "sectrim: DEV: length 512 is not aligned to sector size 4096\n"},
		{0,
		 {"-z", "-l", "1000"},
		 "sectrim: DEV: length 1000 is not aligned to sector size SECTOR\n"},
		{0,
		 {"-z", "-l", "1048577"},
		 "sectrim: DEV: length 1048577 is not aligned to sector size SECTOR\n"},
		// With a step only the step is tested, whatever the length.
		{0,
		 {"-z", "-l", "4M", "-p", "1000"},
		 "sectrim: DEV: length 1000 is not aligned to sector size SECTOR\n"},
		{0,
		 {"-z", "-v", "-o", "8196K"},
		 "sectrim: DEV: offset is greater than device size\n"},
		{0, {"-z", "-o", "1T"}, "sectrim: DEV: offset is greater than device size\n"},
		// Alignment is checked before the bound.
		{0,
		 {"-z", "-o", "1099511627777"},
		 "sectrim: DEV: offset 1099511627777 is not aligned to sector size SECTOR\n"},
		// Loop devices do not do secure discard; the kernel's answer is
		// passed on.
		{0,
		 {"-s", "-v"},
		 "sectrim: DEV: BLKSECDISCARD ioctl failed: Operation not supported\n"},
		{0,
		 {"-s", "-o", "1M", "-l", "1M", "-p", "512K"},
		 "sectrim: DEV: BLKSECDISCARD ioctl failed: Operation not supported\n"},
	};
	for (int sector : SECTOR_SIZES) {
		loop_device dev;
		ASSERT_TRUE(attach_loop_device(&dev, DEVICE_SIZE, sector));
		ASSERT_TRUE(fill_pattern(dev));
		for (const refusal_case &c : cases) {
			if (c.sector != 0 && c.sector != sector)
				continue;
			std::vector<std::string> args = c.args;
			args.push_back(dev.path);
			const std::string cmd = command_text(args) + " (sector size " +
						std::to_string(sector) + ")";
			const tool_result r = run_sectrim(args);
			EXPECT_EQ(r.status, 1) << cmd;
			EXPECT_EQ(r.out, "") << cmd;
			EXPECT_EQ(r.err, sector_text(with_device(c.err, dev.path), sector)) << cmd;
			EXPECT_TRUE(check_contents(dev, 0, 0)) << cmd;
		}
	}
}

std::string file_text(const std::string &path)
{
	std::ifstream in(path);
	std::stringstream text;
	text << in.rdbuf();
	return text.str();
}

// A path as the fault log shows it: control characters become '?'.
std::string logged(std::string path)
{
	for (char &c : path)
		if (static_cast<unsigned char>(c) < ' ')
			c = '?';
	return path;
}

// Paths that are not block devices, which need no privilege to try. Nodes
// whose opening has effects of its own (FIFOs, character devices, sockets)
// are refused without being opened; the rest are found out after open().
TEST(Device, NotABlockDevice)
{
	temp_file regular, fifo, socket_path;
	{
		std::ofstream(regular.path) << "precious data\n";
	}
	// Opening a FIFO for writing would wait for a reader forever.
	ASSERT_EQ(unlink(fifo.path.c_str()), 0);
	ASSERT_EQ(mkfifo(fifo.path.c_str(), 0600), 0) << strerror(errno);
	ASSERT_EQ(unlink(socket_path.path.c_str()), 0);
	sockaddr_un address = {};
	address.sun_family = AF_UNIX;
	ASSERT_LT(socket_path.path.size(), sizeof address.sun_path);
	socket_path.path.copy(address.sun_path, sizeof address.sun_path - 1);
	const int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
	ASSERT_GE(listener, 0) << strerror(errno);
	ASSERT_EQ(bind(listener, reinterpret_cast<const sockaddr *>(&address), sizeof address), 0)
		<< strerror(errno);
	// Names are printed as given: no conversion, blank or line break in
	// them is interpreted.
	const std::string odd_file = regular.path + ODD_NAME, odd_fifo = fifo.path + ODD_NAME;
	std::ofstream(odd_file) << "precious data\n";
	ASSERT_EQ(mkfifo(odd_fifo.c_str(), 0600), 0) << strerror(errno);
	const std::string missing = "/nonexistent/hostkit-test-device";
	const std::string odd_missing = std::string("/nonexistent/") + ODD_NAME;
	const struct {
		std::string path;
		bool opened;
		std::string err;
	} cases[] = {
		{regular.path, true, "sectrim: " + regular.path + ": not a block device\n"},
		{"/dev/null", false, "sectrim: /dev/null: not a block device\n"},
		{"/dev/zero", false, "sectrim: /dev/zero: not a block device\n"},
		{fifo.path, false, "sectrim: " + fifo.path + ": not a block device\n"},
		{socket_path.path, false,
		 "sectrim: " + socket_path.path + ": not a block device\n"},
		{missing, true,
		 "sectrim: cannot open " + missing + ": No such file or directory\n"},
		{"/", true, "sectrim: cannot open /: Is a directory\n"},
		{odd_file, true, "sectrim: " + odd_file + ": not a block device\n"},
		{odd_fifo, false, "sectrim: " + odd_fifo + ": not a block device\n"},
		{odd_missing, true,
		 "sectrim: cannot open " + odd_missing + ": No such file or directory\n"},
	};
	for (const auto &c : cases) {
		for (const char *mode : {"-v", "-z", "-s"}) {
			const std::vector<std::string> args = {mode, c.path};
			temp_file log;
			const tool_result r = run_sectrim(args, fault_env(log.path));
			EXPECT_EQ(r.status, 1) << command_text(args);
			EXPECT_EQ(r.out, "") << command_text(args);
			EXPECT_EQ(r.err, c.err) << command_text(args);
			// Only this path counts: a coverage build also opens its
			// count files at exit.
			const std::vector<std::string> opened =
				opened_paths(read_fault_log(log.path));
			EXPECT_EQ(std::count(opened.begin(), opened.end(), logged(c.path)),
				  c.opened ? 1 : 0)
				<< command_text(args);
		}
	}
	EXPECT_EQ(file_text(regular.path), "precious data\n");
	EXPECT_EQ(file_text(odd_file), "precious data\n");
	close(listener);
	unlink(odd_file.c_str());
	unlink(odd_fifo.c_str());
}

// A symbolic link to a block device is followed, and the name given is the
// one printed, however odd.
TEST(Device, OddlyNamedLinkToTheDevice)
{
	REQUIRE_LOOP_DEVICES();
	loop_device dev;
	ASSERT_TRUE(attach_loop_device(&dev, DEVICE_SIZE, 512));
	temp_file base;
	const std::string link = base.path + ODD_NAME;
	ASSERT_EQ(symlink(dev.path.c_str(), link.c_str()), 0) << strerror(errno);
	const struct {
		std::vector<std::string> args; // the link is appended
		int status;
		std::string out; // "DEV" stands for the link
		std::string err;
		uint64_t zero_start, zero_length;
	} cases[] = {
		{{"-z", "-v", "-o", "1M", "-l", "1M", "-p", "256K"},
		 0,
		 "DEV: Zero-filled 1048576 bytes from the offset 1048576\n",
		 "",
		 MiB,
		 MiB},
		{{"-v", "-o", "100"},
		 1,
		 "",
		 "sectrim: DEV: offset 100 is not aligned to sector size 512\n",
		 0,
		 0},
		{{"-s", "-v"},
		 1,
		 "",
		 "sectrim: DEV: BLKSECDISCARD ioctl failed: Operation not supported\n",
		 0,
		 0},
	};
	for (const auto &c : cases) {
		ASSERT_TRUE(fill_pattern(dev));
		std::vector<std::string> args = c.args;
		args.push_back(link);
		const tool_result r = run_sectrim(args);
		EXPECT_EQ(r.status, c.status) << command_text(args) << "\nstderr: " << r.err;
		EXPECT_EQ(r.out, with_device(c.out, link)) << command_text(args);
		EXPECT_EQ(r.err, with_device(c.err, link)) << command_text(args);
		EXPECT_TRUE(check_contents(dev, c.zero_start, c.zero_length)) << command_text(args);
	}
	unlink(link.c_str());
}

// Started with standard output closed, the device lands on descriptor 1 and
// must be moved above the standard three; with no descriptor allowed there,
// the run ends before any request. The address sanitizer's runtime cannot
// start in a process without a free descriptor, so its builds leave it out.
#ifndef __SANITIZE_ADDRESS__
TEST(Device, NoDescriptorAboveTheStandardStreams)
{
	REQUIRE_LOOP_DEVICES();
	loop_device dev;
	ASSERT_TRUE(attach_loop_device(&dev, DEVICE_SIZE, 512));
	ASSERT_TRUE(fill_pattern(dev));
	const tool_result r = run_program(
		"/bin/sh",
		{"sh", "-c", "ulimit -n 3 && exec \"$0\" \"$@\"", SECTRIM_PATH, "-z", dev.path}, {},
		20000, STDOUT_CLOSED);
	EXPECT_EQ(r.status, 1) << r.err;
	EXPECT_EQ(r.err, "sectrim: " + dev.path +
				 ": cannot move the descriptor above the standard streams: Invalid argument\n");
	EXPECT_TRUE(check_contents(dev, 0, 0));
}
#endif

// A read-only device opens for writing, but the kernel refuses every
// request: its answer is passed on and nothing changes.
TEST(Device, ReadOnlyDevice)
{
	REQUIRE_LOOP_DEVICES();
	loop_device dev;
	ASSERT_TRUE(attach_loop_device(&dev, DEVICE_SIZE, 4096));
	ASSERT_TRUE(fill_pattern(dev));
	loop_device ro;
	ASSERT_TRUE(attach_read_only_view(dev, &ro));

	const struct {
		std::vector<std::string> args; // the device is appended
		std::string err;               // "DEV" stands for it
	} cases[] = {
		{{"-v"}, "sectrim: DEV: BLKDISCARD ioctl failed: "},
		{{"-z", "-v", "-p", "1M"}, "sectrim: DEV: BLKZEROOUT ioctl failed: "},
		{{"-z", "-o", "4M", "-l", "4096"}, "sectrim: DEV: BLKZEROOUT ioctl failed: "},
	};
	for (const auto &c : cases) {
		std::vector<std::string> args = c.args;
		args.push_back(ro.path);
		const tool_result r = run_sectrim(args);
		EXPECT_EQ(r.status, 1) << command_text(args);
		EXPECT_EQ(r.out, "") << command_text(args);
		EXPECT_EQ(r.err, with_device(c.err, ro.path) + strerror(EPERM) + "\n")
			<< command_text(args);
	}
	EXPECT_TRUE(check_contents(dev, 0, 0));
}

} // namespace
