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

// Writes that all succeed and a close that fails, as on NFS or FUSE, which
// report a deferred write error there.
FILE *failing_close_stream()
{
	cookie_io_functions_t io = {};
	io.write = [](void *, const char *, size_t size) { return static_cast<ssize_t>(size); };
	io.close = [](void *) { return errno = EIO, -1; };
	return fopencookie(nullptr, "w", io);
}

TEST(CloseOutputStream, ResultAndErrno)
{
	// Unbuffered, the write fails at once and marks the stream; errno 0: an
	// earlier error leaves no errno to report. A temporary file leaves
	// errno untouched.
	const struct {
		const char *what;
		FILE *(*open)();
		bool unbuffered;
		int rc, error;
	} cases[] = {
		{"tmpfile", [] { return tmpfile(); }, false, 0, ENOSPC},
		{"/dev/full", [] { return fopen("/dev/full", "w"); }, false, EOF, ENOSPC},
		{"/dev/full", [] { return fopen("/dev/full", "w"); }, true, EOF, 0},
		// Nothing pending at the close, which alone fails.
		{"failing close", failing_close_stream, true, EOF, EIO},
	};
	for (const auto &c : cases) {
		FILE *f = c.open();
		ASSERT_NE(f, nullptr);
		if (c.unbuffered)
			setvbuf(f, nullptr, _IONBF, 0);
		fputs("data", f);
		errno = ENOSPC;
		const char *buffering = c.unbuffered ? ", unbuffered" : "";
		EXPECT_EQ(close_output_stream(f), c.rc) << c.what << buffering;
		EXPECT_EQ(errno, c.error) << c.what << buffering;
	}
}

// Standard output set up by each row, something written or not, then the
// exit-time check: its status and diagnostic.
TEST(FinishStandardStreamsDeathTest, StatusAndDiagnostic)
{
	// text: written before the check, if any.
	const struct {
		const char *what;
		void (*setup)();
		const char *text;
		int status;
		const char *line;
	} cases[] = {
		{"full device",
		 [] {
			 if (!freopen("/dev/full", "w", stdout))
				 _exit(3);
		 },
		 "help text\n", 1, ": write error: No space left on device\n$"},
		{"full device, unbuffered",
		 [] {
			 if (!freopen("/dev/full", "w", stdout))
				 _exit(3);
			 setvbuf(stdout, nullptr, _IONBF, 0);
		 },
		 "help text\n", 1, ": write error\n$"},
		// A reader that went away is no failure.
		{"broken pipe",
		 [] {
			 signal(SIGPIPE, SIG_IGN);
			 int fds[2];
			 if (pipe(fds) != 0 || dup2(fds[1], STDOUT_FILENO) < 0)
				 _exit(3);
			 close(fds[0]);
			 close(fds[1]);
		 },
		 "help text\n", 0, "^$"},
		{"closed, nothing written", [] { close(STDOUT_FILENO); }, nullptr, 0, "^$"},
		{"closed, output pending", [] { close(STDOUT_FILENO); }, "lost\n", 1,
		 ": write error: Bad file descriptor\n$"},
	};
	for (const auto &c : cases)
		EXPECT_EXIT(
			{
				c.setup();
				if (c.text)
					fputs(c.text, stdout);
				finish_standard_streams();
				exit(0);
			},
			::testing::ExitedWithCode(c.status), c.line)
			<< c.what;
}

} // namespace
