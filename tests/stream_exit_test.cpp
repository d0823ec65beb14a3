// SPDX-License-Identifier: GPL-2.0-or-later
// The tool's output streams failing or missing: the exit-time check turns a
// lost write into status 1, a reader that went away is no failure, and a
// closed standard stream never lets output reach the device.
#include "loop_device.h"
#include "run_tool.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(StreamExit, HelpOnFailingOutput)
{
	const struct {
		stream_setup setup;
		int status;
		const char *err;
	} cases[] = {
		{STDOUT_DEV_FULL, 1, "sectrim: write error: No space left on device\n"},
		{STDOUT_BROKEN_PIPE, 0, ""},
		{STDOUT_CLOSED, 1, "sectrim: write error: Bad file descriptor\n"},
		{STREAMS_CAPTURED, 0, ""},
	};
	for (const auto &c : cases) {
		const tool_result r = run_sectrim({"--help"}, {}, c.setup);
		EXPECT_EQ(r.status, c.status) << "setup " << c.setup << ": " << r.err;
		EXPECT_EQ(r.err, c.err) << "setup " << c.setup;
	}
}

class StreamExitDevice : public ::testing::Test {
protected:
	loop_device dev;

	void SetUp() override
	{
		REQUIRE_LOOP_DEVICES();
		ASSERT_TRUE(attach_loop_device(&dev, 1 << 20, 512));
		ASSERT_TRUE(fill_pattern(dev));
	}
};

// With a standard stream closed the device gets a low descriptor; what the
// tool writes to that stream must fail, not land on the device.
TEST_F(StreamExitDevice, ClosedStreamsNeverReachTheDevice)
{
	const struct {
		std::vector<std::string> args;
		stream_setup setup;
		int status;
		const char *err;
		uint64_t zeroed; // bytes from 64K on
	} cases[] = {
		{{"-z", "-o", "64K", "-l", "64K", "DEV"}, STDOUT_CLOSED, 0, "", 64 << 10},
		{{"-v", "-z", "-o", "64K", "-l", "64K", "-p", "4K", "DEV"},
		 STDOUT_CLOSED,
		 1,
		 "sectrim: write error: Bad file descriptor\n",
		 64 << 10},
		{{"-z", "-o", "64K", "-l", "64K", "DEV"}, STDERR_CLOSED, 0, "", 64 << 10},
		{{"-z", "-o", "1", "DEV"}, STDERR_CLOSED, 1, "", 0}, // the diagnostic is lost
		{{"-v", "-z", "-o", "64K", "-l", "64K", "DEV"},
		 STDOUT_BROKEN_PIPE,
		 0,
		 "",
		 64 << 10},
	};
	for (const auto &c : cases) {
		const std::vector<std::string> args = with_device(c.args, dev.path);
		const tool_result r = run_sectrim(args, {}, c.setup);
		EXPECT_EQ(r.status, c.status) << command_text(args) << ", setup " << c.setup;
		EXPECT_EQ(r.err, c.err) << command_text(args) << ", setup " << c.setup;
		EXPECT_TRUE(check_contents(dev, 64 << 10, c.zeroed))
			<< command_text(args) << ", setup " << c.setup;
		ASSERT_TRUE(fill_pattern(dev));
	}
}

} // namespace
