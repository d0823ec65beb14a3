// SPDX-License-Identifier: GPL-2.0-or-later
// The one diagnostic of every *_or_exit wrapper: "message: 'text'".
#include "exit_report.h"

#include <err.h>

void exit_bad_text(bool with_system_error, const char *message, const char *text)
{
	// The format is the library's own, not a message: it is not translated.
	if (!text)
		text = "";
	if (with_system_error)
		err(1, "%s: '%s'", message, text);
	errx(1, "%s: '%s'", message, text);
}
