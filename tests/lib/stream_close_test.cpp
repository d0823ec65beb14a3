// SPDX-License-Identifier: GPL-2.0-or-later
// Exit-time stream check: streams that fail at close, seen from the exit
// status and the one diagnostic.
#include "stream_close.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace {

using ::testing::ExitedWithCode;

void finish_and_exit_zero()
{
	finish_standard_streams();
	exit(0);
}

TEST(CloseOutputStream, CleanStreamClosesToZero)
{
	FILE *f = tmpfile();
	ASSERT_NE(f, nullptr);
	fputs("data", f);
	EXPECT_EQ(close_output_stream(f), 0);
}

TEST(CloseOutputStream, FullDeviceFailsWithItsErrno)
{
	FILE *f = fopen("/dev/full", "w");
	ASSERT_NE(f, nullptr);
	fputs("data", f);
	errno = 0;
	EXPECT_EQ(close_output_stream(f), EOF);
	EXPECT_EQ(errno, ENOSPC);
}

TEST(CloseOutputStream, EarlierErrorWithoutCloseFailureLosesErrno)
{
	FILE *f = fopen("/dev/full", "w");
	ASSERT_NE(f, nullptr);
	setvbuf(f, nullptr, _IONBF, 0);
	fputs("data", f); // fails now and marks the stream
	errno = ENOSPC;
	EXPECT_EQ(close_output_stream(f), EOF);
	EXPECT_EQ(errno, 0);
}

using FinishStandardStreamsDeathTest = ::testing::Test;

TEST_F(FinishStandardStreamsDeathTest, WriteErrorNamesTheCause)
{
	EXPECT_EXIT(
		{
			if (!freopen("/dev/full", "w", stdout))
				_exit(3);
			fputs("help text\n", stdout);
			finish_and_exit_zero();
		},
		ExitedWithCode(1), ": write error: No space left on device\n$");
}

TEST_F(FinishStandardStreamsDeathTest, UnbufferedFailureHasNoSystemText)
{
	EXPECT_EXIT(
		{
			if (!freopen("/dev/full", "w", stdout))
				_exit(3);
			setvbuf(stdout, nullptr, _IONBF, 0);
			fputs("help text\n", stdout);
			finish_and_exit_zero();
		},
		ExitedWithCode(1), ": write error\n$");
}

TEST_F(FinishStandardStreamsDeathTest, BrokenPipeIsAcceptedSilently)
{
	EXPECT_EXIT(
		{
			signal(SIGPIPE, SIG_IGN);
			int fds[2];
			if (pipe(fds) != 0 || dup2(fds[1], STDOUT_FILENO) < 0)
				_exit(3);
			close(fds[0]);
			close(fds[1]);
			fputs("help text\n", stdout);
			finish_and_exit_zero();
		},
		ExitedWithCode(0), "^$");
}

TEST_F(FinishStandardStreamsDeathTest, ClosedStdoutWithNothingWrittenIsFine)
{
	EXPECT_EXIT(
		{
			close(STDOUT_FILENO);
			finish_and_exit_zero();
		},
		ExitedWithCode(0), "^$");
}

TEST_F(FinishStandardStreamsDeathTest, ClosedStdoutWithOutputPendingFails)
{
	EXPECT_EXIT(
		{
			close(STDOUT_FILENO);
			fputs("lost\n", stdout);
			finish_and_exit_zero();
		},
		ExitedWithCode(1), ": write error: Bad file descriptor\n$");
}

} // namespace
