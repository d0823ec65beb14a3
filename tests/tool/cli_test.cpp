// SPDX-License-Identifier: GPL-2.0-or-later
// The tool before it has a device: help, version, usage errors, size options
// in order, paths that are not block devices, failing streams.
#include "refused_sizes.h"
#include "runner.h"
#include "version.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

// The help text, one of its lines to a line here.
const std::string HELP = "\nUsage:\n"
			 " sectrim [options] <device>\n"
			 "\n"
			 "Discard the content of sectors on a device.\n"
			 "\nOptions:\n"
			 " -o, --offset <num>  offset in bytes to discard from\n"
			 " -l, --length <num>  length of bytes to discard from the offset\n"
			 " -p, --step <num>    size of the discard iterations within the offset\n"
			 " -s, --secure        perform secure discard\n"
			 " -z, --zeroout       zero-fill rather than discard\n"
			 " -v, --verbose       print aligned length and offset\n"
			 " -f, --force         work on the device even while something holds it\n"
			 "\n"
			 " -h, --help     display this help and exit\n"
			 " -V, --version  output version information and exit\n"
			 "\nFor more details see sectrim(8).\n";
const std::string VERSION = "sectrim from " PACKAGE_STRING "\n";
// Opening it would fail with "cannot open": any other outcome proves the
// tool decided before touching the device.
const std::string NODEV = "/nonexistent/hostkit-test-device";
const std::string ND = " " + NODEV + " ";
const std::string PARSE = "sectrim: failed to parse ", EINVAL_TEXT = "': Invalid argument\n",
		  ERANGE_TEXT = "': Numerical result out of range\n";

TEST(CommandLine, HelpAndVersion)
{
	expect_runs({
		{"-h", 0, HELP},
		{"--help", 0, HELP},
		{"-h" + ND, 0, HELP},
		{ND + "--help", 0, HELP},
		{"-h -o 1x", 0, HELP},
		{"-h -V", 0, HELP},
		{"-V", 0, VERSION},
		{"--version", 0, VERSION},
		{"-V" + ND, 0, VERSION},
		{ND + "-V", 0, VERSION},
		{"-V -h", 0, VERSION},
		// The version ends the run before the arguments are counted or
		// later options parsed.
		{"-V" + ND + ND, 0, VERSION},
		{"-V -o 1x", 0, VERSION},
	});
}

// Options are acted on in order: the bad one ends the run first.
TEST(CommandLine, UsageErrors)
{
	const std::string NONE = "sectrim: no device specified\n",
			  COUNT = "sectrim: unexpected number of arguments\n" + HELP,
			  INVALID = "sectrim: invalid option -- 'x'\n" + HELP;
	expect_runs({
		{"", 1, "", NONE},
		{"-v -z -o 1M", 1, "", NONE},
		{ND + ND, 1, "", COUNT},
		{"-v" + ND + "-z extra more", 1, "", COUNT},
		{"-x" + ND, 1, "", INVALID},
		{"-x -h", 1, "", INVALID},
		{"--bogus" + ND, 1, "", "sectrim: unrecognized option '--bogus'\n" + HELP},
		{"--verbose=yes" + ND, 1, "",
		 "sectrim: option '--verbose' doesn't allow an argument\n" + HELP},
		{ND + "-o", 1, "", "sectrim: option requires an argument -- 'o'\n" + HELP},
		{ND + "--length", 1, "",
		 "sectrim: option '--length' requires an argument\n" + HELP},
	});
}

TEST(CommandLine, SizeOptionsFailBeforeTheDeviceIsOpened)
{
	expect_runs({
		{"-o 1x" + ND, 1, "", PARSE + "offset: '1x" + EINVAL_TEXT},
		{"--offset=1x" + ND, 1, "", PARSE + "offset: '1x" + EINVAL_TEXT},
		{ND + "-o -1", 1, "", PARSE + "offset: '-1" + EINVAL_TEXT},
		{"-l 16E" + ND, 1, "", PARSE + "length: '16E" + ERANGE_TEXT},
		{"--length ''" + ND, 1, "", PARSE + "length: '" + EINVAL_TEXT},
		{"-p 4096x" + ND, 1, "", PARSE + "step: '4096x" + EINVAL_TEXT},
		{"--step=99999999999999999999" + ND, 1, "",
		 PARSE + "step: '99999999999999999999" + ERANGE_TEXT},
		// A good earlier value does not save a bad later one.
		{"-o 1M -o 1.5" + ND, 1, "", PARSE + "offset: '1.5" + EINVAL_TEXT},
		// The value is parsed where it stands, before the argument count.
		{"-o 1x", 1, "", PARSE + "offset: '1x" + EINVAL_TEXT},
		{ND + ND + "-p x", 1, "", PARSE + "step: 'x" + EINVAL_TEXT},
	});
}

// The exit-time check makes a lost write status 1; a reader gone is no failure.
TEST(CommandLine, HelpOnFailingOutput)
{
	expect_runs({
		{.args = "--help",
		 .status = 1,
		 .err = "sectrim: write error: No space left on device\n",
		 .streams = STDOUT_DEV_FULL},
		{.args = "--help",
		 .status = 1,
		 .err = "sectrim: write error: Bad file descriptor\n",
		 .streams = STDOUT_CLOSED},
		{.args = "--help", .streams = STDOUT_BROKEN_PIPE},
		{.args = "--help", .out = HELP},
	});
}

// Every text the size parser refuses, through each size option, short, long
// and long with '=': the text quoted as given, then the system's error.
TEST(CommandLine, EveryRefusedSizeText)
{
	const auto expect_refused = [](const std::string &text, const std::string &error) {
		const std::pair<std::string, std::vector<std::string>> forms[] = {
			{"offset", {"-o", text, NODEV}},
			{"length", {NODEV, "--length", text}},
			{"step", {"--step=" + text, NODEV}}};
		for (const auto &[name, argv] : forms)
			expect_run({.status = 1,
				    .err = PARSE + name + ": '" + text + error,
				    .argv = argv});
	};
	for (const char *text : INVALID_SIZES)
		expect_refused(text, EINVAL_TEXT);
	for (const out_of_range_size &size : OUT_OF_RANGE_SIZES)
		expect_refused(size.text, ERANGE_TEXT);
}

TEST(CommandLine, NamesItselfAsInvoked)
{
	const tool_result r = run_program(SECTRIM_PATH, {"/usr/local/sbin/trimmer", "-V"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out, "trimmer from " PACKAGE_STRING "\n");

	const tool_result h = run_program(SECTRIM_PATH, {"trimmer", "-h"});
	EXPECT_EQ(h.status, 0);
	EXPECT_NE(h.out.find(" trimmer [options] <device>\n"), std::string::npos) << h.out;
}

// Paths that are not block devices. Nodes whose opening has effects of its
// own (FIFOs, character devices, sockets) are refused unopened.
TEST(CommandLine, NotABlockDevice)
{
	temp_file regular, fifo, socket_path;
	std::ofstream(regular.path) << "precious data\n";
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
	const std::string odd = " 100% %s%n\n%d", odd_file = regular.path + odd,
			  odd_fifo = fifo.path + odd, odd_missing = "/nonexistent/" + odd;
	std::ofstream(odd_file) << "precious data\n";
	ASSERT_EQ(mkfifo(odd_fifo.c_str(), 0600), 0) << strerror(errno);
	// The node decides, not a link to it.
	const std::string fifo_link = fifo.path + "-link";
	ASSERT_EQ(symlink(fifo.path.c_str(), fifo_link.c_str()), 0) << strerror(errno);
	const std::string not_block = ": not a block device\n",
			  missing = ": No such file or directory\n";
	const struct {
		std::string path;
		bool opened;
		std::string err;
	} cases[] = {
		{regular.path, true, "sectrim: " + regular.path + not_block},
		{"/dev/null", false, "sectrim: /dev/null" + not_block},
		{"/dev/zero", false, "sectrim: /dev/zero" + not_block},
		{fifo.path, false, "sectrim: " + fifo.path + not_block},
		{socket_path.path, false, "sectrim: " + socket_path.path + not_block},
		{NODEV, true, "sectrim: cannot open " + NODEV + missing},
		{"/", true, "sectrim: cannot open /: Is a directory\n"},
		{odd_file, true, "sectrim: " + odd_file + not_block},
		{odd_fifo, false, "sectrim: " + odd_fifo + not_block},
		{fifo_link, false, "sectrim: " + fifo_link + not_block},
		{odd_missing, true, "sectrim: cannot open " + odd_missing + missing},
	};
	for (const auto &c : cases) {
		// As the fault log shows it: control characters become '?'.
		std::string logged = c.path;
		std::ranges::replace_if(
			logged, [](unsigned char ch) { return ch < ' '; }, '?');
		for (const char *mode : {"-v", "-z", "-s"})
			expect_run({.status = 1,
				    .err = c.err,
				    .argv = {mode, c.path},
				    .opened = logged,
				    .opens = c.opened,
				    .flags = c.opened ? O_WRONLY | O_EXCL : -1});
	}
	EXPECT_EQ(file_text(regular.path), "precious data\n");
	EXPECT_EQ(file_text(odd_file), "precious data\n");
	close(listener);
	unlink(odd_file.c_str());
	unlink(odd_fifo.c_str());
	unlink(fifo_link.c_str());
}

} // namespace
