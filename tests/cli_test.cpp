// SPDX-License-Identifier: GPL-2.0-or-later
// The command line of the real binary: help, version, usage errors, size
// options, and the order in which options take effect.
#include "loop_device.h"
#include "run_tool.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::string HELP = "\n"
			 "Usage:\n"
			 " sectrim [options] <device>\n"
			 "\n"
			 "Discard the content of sectors on a device.\n"
			 "\n"
			 "Options:\n"
			 " -o, --offset <num>  offset in bytes to discard from\n"
			 " -l, --length <num>  length of bytes to discard from the offset\n"
			 " -p, --step <num>    size of the discard iterations within the offset\n"
			 " -s, --secure        perform secure discard\n"
			 " -z, --zeroout       zero-fill rather than discard\n"
			 " -v, --verbose       print aligned length and offset\n"
			 "\n"
			 " -h, --help     display this help and exit\n"
			 " -V, --version  output version information and exit\n"
			 "\n"
			 "For more details see sectrim(8).\n";
const std::string VERSION = "sectrim from " PACKAGE_STRING "\n";
// Opening it would fail with "cannot open": any other outcome proves the
// tool decided before touching the device.
const std::string NODEV = "/nonexistent/hostkit-test-device";

struct cli_case {
	std::vector<std::string> args;
	int status;
	std::string out;
	std::string err;
};

void expect_runs(const std::vector<cli_case> &cases)
{
	for (const cli_case &c : cases) {
		const tool_result r = run_sectrim(c.args);
		const std::string cmd = command_text(c.args);
		EXPECT_EQ(r.status, c.status) << cmd << "\nstderr: " << r.err;
		EXPECT_EQ(r.out, c.out) << cmd;
		EXPECT_EQ(r.err, c.err) << cmd;
	}
}

TEST(CommandLine, HelpAndVersion)
{
	expect_runs({
		{{"-h"}, 0, HELP, ""},
		{{"--help"}, 0, HELP, ""},
		{{"-h", NODEV}, 0, HELP, ""},
		{{NODEV, "--help"}, 0, HELP, ""},
		{{"-h", "-o", "1x"}, 0, HELP, ""},
		{{"-h", "-V"}, 0, HELP, ""},
		{{"-V"}, 0, VERSION, ""},
		{{"--version"}, 0, VERSION, ""},
		{{"-V", NODEV}, 0, VERSION, ""},
		{{NODEV, "-V"}, 0, VERSION, ""},
		{{"-V", "-h"}, 0, VERSION, ""},
		// The version ends the run before the arguments are counted or
		// later options parsed.
		{{"-V", NODEV, NODEV}, 0, VERSION, ""},
		{{"-V", "-o", "1x"}, 0, VERSION, ""},
	});
}

TEST(CommandLine, UsageErrors)
{
	expect_runs({
		{{}, 1, "", "sectrim: no device specified\n"},
		{{"-v", "-z", "-o", "1M"}, 1, "", "sectrim: no device specified\n"},
		{{NODEV, NODEV}, 1, "", "sectrim: unexpected number of arguments\n" + HELP},
		{{"-v", NODEV, "-z", "extra", "more"},
		 1,
		 "",
		 "sectrim: unexpected number of arguments\n" + HELP},
		{{"-x", NODEV}, 1, "", "sectrim: invalid option -- 'x'\n" + HELP},
		{{"--bogus", NODEV}, 1, "", "sectrim: unrecognized option '--bogus'\n" + HELP},
		{{"--verbose=yes", NODEV},
		 1,
		 "",
		 "sectrim: option '--verbose' doesn't allow an argument\n" + HELP},
		{{NODEV, "-o"}, 1, "", "sectrim: option requires an argument -- 'o'\n" + HELP},
		{{NODEV, "--length"},
		 1,
		 "",
		 "sectrim: option '--length' requires an argument\n" + HELP},
		// Options are acted on in order: the bad one ends the run first.
		{{"-x", "-h"}, 1, "", "sectrim: invalid option -- 'x'\n" + HELP},
	});
}

TEST(CommandLine, SizeOptionsFailBeforeTheDeviceIsOpened)
{
	expect_runs({
		{{"-o", "1x", NODEV},
		 1,
		 "",
		 "sectrim: failed to parse offset: '1x': Invalid argument\n"},
		{{"--offset=1x", NODEV},
		 1,
		 "",
		 "sectrim: failed to parse offset: '1x': Invalid argument\n"},
		{{NODEV, "-o", "-1"},
		 1,
		 "",
		 "sectrim: failed to parse offset: '-1': Invalid argument\n"},
		{{"-l", "16E", NODEV},
		 1,
		 "",
		 "sectrim: failed to parse length: '16E': Numerical result out of range\n"},
		{{"--length", "", NODEV},
		 1,
		 "",
		 "sectrim: failed to parse length: '': Invalid argument\n"},
		{{"-p", "4096x", NODEV},
		 1,
		 "",
		 "sectrim: failed to parse step: '4096x': Invalid argument\n"},
		{{"--step=99999999999999999999", NODEV},
		 1,
		 "",
		 "sectrim: failed to parse step: '99999999999999999999': Numerical result out of "
		 "range\n"},
		// A good earlier value does not save a bad later one.
		{{"-o", "1M", "-o", "1.5", NODEV},
		 1,
		 "",
		 "sectrim: failed to parse offset: '1.5': Invalid argument\n"},
		// The value is parsed where it stands, before the argument count.
		{{"-o", "1x"}, 1, "", "sectrim: failed to parse offset: '1x': Invalid argument\n"},
		{{NODEV, NODEV, "-p", "x"},
		 1,
		 "",
		 "sectrim: failed to parse step: 'x': Invalid argument\n"},
	});
}

// Every text the size parser refuses, through each size option, written
// short, long, and long with '=': the diagnostic quotes the text as given
// and ends with the system's error text.
TEST(CommandLine, EveryRefusedSizeText)
{
	const char *const invalid[] = {
		"",
		"-1",
		"  -1K",
		"1Ki",
		"1KIB",
		"1 K",
		"5 ",
		"12X",
		"1B",
		"1b",
		"1iB",
		"1.",
		".5M",
		"1.-5M",
		"1.5",
		"1.0",
		"2.000",
		"1.0005K",
		"1.5.5M",
		"08",
		"08K",
		"09M",
		"1,5M",
		"K",
		" ",
		"1.25M",
		"15.99E",
		"1.99999999999999E",
		"1.99999999999999999M",
		"1.184467440737095516M",
		"1.99999999999999999999M",
	};
	const char *const out_of_range[] = {
		"18446744073709551616", "16E", "1Y", "1Z", "0.5Y",
	};
	const struct {
		const char *const *texts;
		size_t count;
		const char *error;
	} groups[] = {
		{invalid, std::size(invalid), "Invalid argument"},
		{out_of_range, std::size(out_of_range), "Numerical result out of range"},
	};
	const struct {
		const char *name;
		std::vector<std::string> (*args)(const std::string &text);
	} options[] = {
		{"offset",
		 [](const std::string &t) {
			 return std::vector<std::string>{"-o", t, NODEV};
		 }},
		{"length",
		 [](const std::string &t) {
			 return std::vector<std::string>{NODEV, "--length", t};
		 }},
		{"step",
		 [](const std::string &t) {
			 return std::vector<std::string>{"--step=" + t, NODEV};
		 }},
	};
	std::vector<cli_case> cases;
	for (const auto &group : groups)
		for (size_t i = 0; i < group.count; i++)
			for (const auto &option : options)
				cases.push_back({option.args(group.texts[i]), 1, "",
						 std::string("sectrim: failed to parse ") +
							 option.name + ": '" + group.texts[i] +
							 "': " + group.error + "\n"});
	expect_runs(cases);
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

struct order_case {
	std::vector<std::string> args; // "DEV" stands for the device
	std::vector<std::string> requests;
	std::string out;
};

// Which request, over which range, a command line comes down to. The
// requests are faked: only the fault log tells the modes apart.
TEST(CommandLine, OptionOrder)
{
	REQUIRE_LOOP_DEVICES();
	loop_device dev;
	ASSERT_TRUE(attach_loop_device(&dev, 1 << 20, 512));

	const order_case cases[] = {
		{{"DEV"}, {"DISCARD 0 1048576"}, ""},
		{{"-z", "DEV"}, {"ZEROOUT 0 1048576"}, ""},
		{{"-s", "DEV"}, {"SECDISCARD 0 1048576"}, ""},
		{{"-z", "-s", "DEV"}, {"SECDISCARD 0 1048576"}, ""},
		{{"-s", "-z", "DEV"}, {"ZEROOUT 0 1048576"}, ""},
		{{"--zeroout", "DEV", "--secure"}, {"SECDISCARD 0 1048576"}, ""},
		{{"-zs", "DEV"}, {"SECDISCARD 0 1048576"}, ""},
		{{"-sz", "DEV"}, {"ZEROOUT 0 1048576"}, ""},
		{{"-v", "DEV"},
		 {"DISCARD 0 1048576"},
		 "DEV: Discarded 1048576 bytes from the offset 0\n"},
		{{"DEV", "-v"},
		 {"DISCARD 0 1048576"},
		 "DEV: Discarded 1048576 bytes from the offset 0\n"},
		{{"DEV", "-o", "4096", "--verbose"},
		 {"DISCARD 4096 1044480"},
		 "DEV: Discarded 1044480 bytes from the offset 4096\n"},
		{{"-o", "4096", "-o", "8192", "DEV"}, {"DISCARD 8192 1040384"}, ""},
		{{"-l", "4096", "DEV", "-l", "1024"}, {"DISCARD 0 1024"}, ""},
		{{"-p", "512K", "-p", "0", "DEV"}, {"DISCARD 0 1048576"}, ""},
		{{"-p", "0", "-p", "512K", "DEV"},
		 {"DISCARD 0 524288", "DISCARD 524288 524288"},
		 ""},
		{{"--", "DEV"}, {"DISCARD 0 1048576"}, ""},
	};
	for (const order_case &c : cases) {
		temp_file log;
		const std::vector<std::string> args = with_device(c.args, dev.path);
		const tool_result r = run_sectrim(args, fault_env(log.path, {"FAULT_FAKE=1"}));
		const std::string cmd = command_text(args);
		EXPECT_EQ(r.status, 0) << cmd << "\nstderr: " << r.err;
		EXPECT_EQ(r.out, with_device(c.out, dev.path)) << cmd;
		EXPECT_EQ(r.err, "") << cmd;
		EXPECT_EQ(request_texts(read_fault_log(log.path)), c.requests) << cmd;
	}
}

} // namespace
