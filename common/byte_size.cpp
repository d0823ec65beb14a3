// SPDX-License-Identifier: GPL-2.0-or-later
// Text to byte count: an integer (decimal, 0x hexadecimal or 0 octal), an
// optional fraction after the locale's decimal point, and a unit letter of
// base 1024 (K, KiB) or 1000 (KB).
#include "byte_size.h"

#include "exit_report.h"

#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <clocale>
#include <cstring>

namespace {

int fail(int code)
{
	errno = -code;
	return code;
}

// The conversion would take a '-' after white space and negate the value.
bool starts_negative(const char *text)
{
	while (isspace(static_cast<unsigned char>(*text)))
		text++;
	return *text == '-';
}

// What a failed strtoumax left: its errno, or EINVAL when it took nothing.
int conversion_failure()
{
	return errno ? -errno : -EINVAL;
}

// The digits of one fraction piece at text, taken as the integer
// conversion would take them (white space and a '+' may come first).
// Leading and trailing zeros say nothing; a second significant digit is
// refused, since the fraction rule would count it at face value, ten times
// over, and so reach past the size written. Returns the significant digit,
// 0 for a piece of zeros, or -EINVAL; *end is set after the digits.
int fraction_digit(const char *text, const char **end)
{
	while (isspace(static_cast<unsigned char>(*text)))
		text++;
	if (*text == '+')
		text++;
	if (*text < '0' || *text > '9')
		return -EINVAL;
	int digit = 0;
	for (; *text >= '0' && *text <= '9'; text++) {
		if (*text == '0')
			continue;
		if (digit)
			return -EINVAL;
		digit = *text - '0';
	}
	*end = text;
	return digit;
}

// *value *= factor, unless the product does not fit; then *value is kept.
bool multiply_checked(uintmax_t *value, uintmax_t factor)
{
	uintmax_t product;
	if (__builtin_mul_overflow(*value, factor, &product))
		return false;
	*value = product;
	return true;
}

// The exponent of a unit letter, 0 for any other character. Never called
// on the terminating NUL, which strchr would find.
int suffix_exponent(char letter)
{
	if (const char *up = strchr(SIZE_SUFFIXES_UPPER, letter))
		return static_cast<int>(up - SIZE_SUFFIXES_UPPER) + 1;
	if (const char *low = strchr(SIZE_SUFFIXES_LOWER, letter))
		return static_cast<int>(low - SIZE_SUFFIXES_LOWER) + 1;
	return 0;
}

} // namespace

int parse_byte_size(const char *text, uintmax_t *result, int *power)
{
	*result = 0;
	if (!text || !*text)
		return fail(-EINVAL);
	if (starts_negative(text))
		return fail(-EINVAL);

	char *end = nullptr;
	errno = 0;
	uintmax_t value = strtoumax(text, &end, 0);
	if (end == text || (errno && (value == 0 || value == UINTMAX_MAX)))
		return fail(conversion_failure());
	if (!end || !*end) {
		*result = value;
		return 0;
	}

	// Fraction digits and the zeros that lead them may come in several
	// pieces, one per decimal point; only one piece may be non-zero.
	const char *p = end;
	uintmax_t frac = 0;
	size_t frac_zeros = 0;
	uintmax_t base;
	for (;;) {
		// A zero fraction can bring us back at the end of the text; the
		// tests below look ahead, so they must start on a character.
		if (!*p)
			return fail(-EINVAL);
		if (p[1] == 'i' && (p[2] == 'B' || p[2] == 'b') && p[3] == '\0') {
			base = 1024;
			break;
		}
		if ((p[1] == 'B' || p[1] == 'b') && p[2] == '\0') {
			base = 1000;
			break;
		}
		if (p[1] == '\0') {
			base = 1024;
			break;
		}

		const lconv *lc = localeconv();
		const char *point = lc ? lc->decimal_point : nullptr;
		size_t point_len = point ? strlen(point) : 0;
		if (frac || point_len == 0 || strncmp(p, point, point_len) != 0)
			return fail(-EINVAL);

		const char *digits = p + point_len;
		for (const char *z = digits; *z == '0'; z++)
			frac_zeros++;
		const char *after;
		int digit = fraction_digit(digits, &after);
		if (digit < 0)
			return fail(digit);
		p = after;
		if (digit == 0)
			continue;
		frac = static_cast<uintmax_t>(digit);
		// A fraction says nothing without the unit it is a fraction of.
		if (!*p)
			return fail(-EINVAL);
	}

	int exponent = suffix_exponent(*p);
	if (!exponent)
		return fail(-EINVAL);

	int rc = 0;
	for (int i = 0; i < exponent; i++) {
		if (!multiply_checked(&value, base)) {
			rc = -ERANGE;
			break;
		}
	}
	if (power)
		*power = exponent;

	if (frac) {
		// The digits after the zeros count as thousandths of the unit one
		// exponent down; each three zeros lower the unit once more.
		static constexpr uintmax_t THOUSANDTHS[] = {100, 10, 1};
		size_t lower = frac_zeros / 3;
		if (lower >= static_cast<size_t>(exponent))
			return fail(-EINVAL);
		int k = exponent - 1 - static_cast<int>(lower);
		uintmax_t y = frac;
		bool fits = multiply_checked(&y, THOUSANDTHS[frac_zeros % 3]);
		for (int i = 0; fits && i < k; i++)
			fits = multiply_checked(&y, base);
		// A wrapped or cut-short fraction would be a wrong size taken as
		// right: the whole text is out of range instead.
		if (!fits || value > UINTMAX_MAX - y)
			return fail(-ERANGE);
		value += y;
	}

	*result = value;
	return rc ? fail(rc) : 0;
}

int parse_byte_size_plain(const char *text, uintmax_t *result)
{
	return parse_byte_size(text, result, nullptr);
}

uintmax_t byte_size_or_exit(const char *text, const char *message)
{
	uintmax_t value;
	if (parse_byte_size(text, &value, nullptr) == 0)
		return value;
	exit_bad_text(errno != 0, message, text);
}
