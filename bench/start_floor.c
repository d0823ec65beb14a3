// SPDX-License-Identifier: GPL-2.0-or-later
/*
 * The floor under the tool's start-up: one_line plus only the steps the tool
 * must take before and after printing its version line (locale, message
 * catalogue, the exit-time check of both standard streams, the option
 * parser, one catalogue lookup), in plain C with nothing else.
 *
 * usage: start_floor -V
 */
#include "version.h"

#include <errno.h>
#include <getopt.h>
#include <libintl.h>
#include <locale.h>
#include <stdio.h>
#include <stdio_ext.h>
#include <stdlib.h>
#include <unistd.h>

static int close_output(FILE *stream)
{
	const int pending = __fpending(stream) != 0;
	const int failed = ferror(stream) != 0;
	if (fclose(stream) != 0 && (pending || errno != EBADF))
		return -1;
	return failed ? -1 : 0;
}

static void close_outputs(void)
{
	if (close_output(stdout) != 0 || close_output(stderr) != 0)
		_exit(EXIT_FAILURE);
}

static const struct option LONG_OPTIONS[] = {
	{"version", no_argument, NULL, 'V'},
	{NULL, 0, NULL, 0},
};

int main(int argc, char **argv)
{
	setlocale(LC_ALL, "");
	bindtextdomain("hostkit", "/usr/share/locale");
	textdomain("hostkit");
	atexit(close_outputs);

	if (getopt_long(argc, argv, "V", LONG_OPTIONS, NULL) == 'V') {
		printf(dcgettext(NULL, "%s from %s\n", LC_MESSAGES), program_invocation_short_name,
		       PACKAGE_STRING);
		return 0;
	}
	return 1;
}
