// SPDX-License-Identifier: GPL-2.0-or-later
// Exit-time check of standard output and standard error: a write that
// fails only when the buffer is finally flushed still fails the process.
#pragma once

#include <cstdio>

// Flush and close stream. Returns 0 when everything written reached the
// system and the close succeeded, EOF otherwise; the stream is closed
// either way.
int close_output_stream(FILE *stream);

// For atexit: close standard output and standard error, and end the process
// with status 1 (after "write error" for standard output) when either fails.
void finish_standard_streams();
