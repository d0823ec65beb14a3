// SPDX-License-Identifier: GPL-2.0-or-later
// Text to integer, double or timeval: the whole text or exit 1.
#pragma once

#include <sys/time.h>

#include <cstdint>

// Each returns the value of the whole text (leading white space and one sign
// allowed; integers in base 10), or prints "message: 'text'" and exits with status 1;
// the system text for errno is added only for a value out of range. The
// message is printed as given: translate it before the call.
intmax_t text_to_int64_or_exit(const char *text, const char *message);
int32_t text_to_int32_or_exit(const char *text, const char *message);
int16_t text_to_int16_or_exit(const char *text, const char *message);
uintmax_t text_to_uint64_or_exit(const char *text, const char *message);
uint32_t text_to_uint32_or_exit(const char *text, const char *message);
uint16_t text_to_uint16_or_exit(const char *text, const char *message);
double text_to_double_or_exit(const char *text, const char *message);
long text_to_long_or_exit(const char *text, const char *message);
unsigned long text_to_ulong_or_exit(const char *text, const char *message);

// Seconds with a fraction into whole seconds and microseconds, both
// truncated toward zero and signed alike; *tv is left alone on failure.
void text_to_timeval_or_exit(const char *text, struct timeval *tv, const char *message);
