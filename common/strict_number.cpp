// SPDX-License-Identifier: GPL-2.0-or-later
// Text to integer, double or timeval: the strict counterparts of the C
// library's conversions, which accept a number only when it is the whole
// text. Narrow types go through the wider member of the same signedness.
#include "strict_number.h"

#include "exit_report.h"

#include <cerrno>
#include <cinttypes>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <utility>

namespace {

// The system text is only worth showing for a range error; any other errno
// a conversion may leave says nothing more than the text itself.
[[noreturn]] void exit_bad_number(const char *message, const char *text)
{
	exit_bad_text(errno == ERANGE, message, text);
}

[[noreturn]] void exit_out_of_range(const char *message, const char *text)
{
	errno = ERANGE;
	exit_bad_number(message, text);
}

// Every base member: the conversion must take a character, report nothing
// and end where the text ends. A range error is reported as such even when
// characters follow the number.
template <typename Convert>
auto convert_or_exit(const char *text, const char *message, Convert convert)
{
	char *end = nullptr;
	errno = 0;
	if (!text || !*text)
		exit_bad_number(message, text);
	auto value = convert(text, &end);
	if (errno || end == text || (end && *end))
		exit_bad_number(message, text);
	return value;
}

// Every narrowing member: the value of the wider member of the same
// signedness, held to the range of T.
template <typename T, typename Wide>
T narrowed_or_exit(Wide value, const char *text, const char *message)
{
	if (!std::in_range<T>(value))
		exit_out_of_range(message, text);
	return static_cast<T>(value);
}

} // namespace

intmax_t text_to_int64_or_exit(const char *text, const char *message)
{
	return convert_or_exit(text, message,
			       [](const char *s, char **end) { return strtoimax(s, end, 10); });
}

int32_t text_to_int32_or_exit(const char *text, const char *message)
{
	return narrowed_or_exit<int32_t>(text_to_int64_or_exit(text, message), text, message);
}

int16_t text_to_int16_or_exit(const char *text, const char *message)
{
	return narrowed_or_exit<int16_t>(text_to_int32_or_exit(text, message), text, message);
}

uintmax_t text_to_uint64_or_exit(const char *text, const char *message)
{
	return convert_or_exit(text, message,
			       [](const char *s, char **end) { return strtoumax(s, end, 10); });
}

uint32_t text_to_uint32_or_exit(const char *text, const char *message)
{
	return narrowed_or_exit<uint32_t>(text_to_uint64_or_exit(text, message), text, message);
}

uint16_t text_to_uint16_or_exit(const char *text, const char *message)
{
	return narrowed_or_exit<uint16_t>(text_to_uint32_or_exit(text, message), text, message);
}

double text_to_double_or_exit(const char *text, const char *message)
{
	return convert_or_exit(text, message,
			       [](const char *s, char **end) { return strtod(s, end); });
}

long text_to_long_or_exit(const char *text, const char *message)
{
	return convert_or_exit(text, message,
			       [](const char *s, char **end) { return strtol(s, end, 10); });
}

unsigned long text_to_ulong_or_exit(const char *text, const char *message)
{
	return convert_or_exit(text, message,
			       [](const char *s, char **end) { return strtoul(s, end, 10); });
}

void text_to_timeval_or_exit(const char *text, struct timeval *tv, const char *message)
{
	double d = text_to_double_or_exit(text, message);

	// Converting a double whose whole part the seconds field cannot hold
	// is undefined; infinities and NaN fail these comparisons too.
	const double limit = std::ldexp(1.0, std::numeric_limits<time_t>::digits);
	double whole = std::trunc(d);
	if (!(whole >= -limit && whole < limit))
		exit_out_of_range(message, text);

	time_t seconds = static_cast<time_t>(d);
	double fraction = d - static_cast<double>(seconds);
	// The product must be a double, as the rule computes it: an x87 unit
	// (i386) keeps it in 80 bits, where 0.000001 s comes to
	// 0.99999999999999995 us and truncates to 0 instead of 1. A store to
	// memory rounds it.
	volatile double microseconds = fraction * 1000000.0;
	tv->tv_sec = seconds;
	tv->tv_usec = static_cast<int32_t>(microseconds);
}
