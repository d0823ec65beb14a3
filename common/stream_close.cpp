// SPDX-License-Identifier: GPL-2.0-or-later
// Exit-time check of standard output and standard error.
#include "stream_close.h"

#include "i18n.h"

#include <err.h>
#include <stdio_ext.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

int close_output_stream(FILE *stream)
{
	const bool pending = __fpending(stream) != 0;
	const bool previous_failure = ferror(stream) != 0;
	const bool close_failure = fclose(stream) != 0;

	if (previous_failure) {
		// The errno of an earlier failed write is long gone unless the
		// close failed too; a broken pipe is still worth naming.
		if (!close_failure && errno != EPIPE)
			errno = 0;
		return EOF;
	}
	// Closing an already closed descriptor with nothing to write lost
	// nothing.
	if (close_failure && (pending || errno != EBADF))
		return EOF;
	return 0;
}

void finish_standard_streams()
{
	// A reader that went away is its own business, not a failure of ours.
	if (close_output_stream(stdout) != 0 && errno != EPIPE) {
		// Held across the catalogue lookup, which may change errno.
		const int error = errno;
		const char *message = _("write error");
		errno = error;
		if (error)
			warn("%s", message);
		else
			warnx("%s", message);
		_exit(EXIT_FAILURE);
	}
	// Nowhere left to report a failure of standard error itself.
	if (close_output_stream(stderr) != 0)
		_exit(EXIT_FAILURE);
}
