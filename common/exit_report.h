// SPDX-License-Identifier: GPL-2.0-or-later
// The one diagnostic of every *_or_exit wrapper: "message: 'text'".
#pragma once

// Print "message: 'text'" through err (with the system text for errno)
// when with_system_error is set, else through errx, and exit with status 1.
// A NULL text shows as ''.
[[noreturn]] void exit_bad_text(bool with_system_error, const char *message, const char *text);
