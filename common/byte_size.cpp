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

// A fraction as written: its one significant digit (0 when there is none)
// and the zeros that stood directly after the decimal points.
struct size_fraction {
	uintmax_t digit;
	size_t zeros;
};

int fail(int code)
{
	errno = -code;
	return code;
}

bool is_digit(char c)
{
	return c >= '0' && c <= '9';
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

// The integer part, in the base its prefix names. *end is left on the first
// character not taken.
int read_integer(const char *text, uintmax_t *value, const char **end)
{
	if (!text || !*text)
		return -EINVAL;
	char *stop = nullptr;
	errno = 0;
	*value = strtoumax(text, &stop, 0);
	*end = stop;
	if (stop == text)
		return -EINVAL;
	// The conversion negates after a '-', which can only be the sign in
	// front of the digits.
	for (const char *c = text; c < stop && !is_digit(*c); c++)
		if (*c == '-')
			return -EINVAL;
	if ((*value == 0 || *value == UINTMAX_MAX) && errno)
		return -errno;
	return 0;
}

// The base of the unit form starting at the letter p points to: 1024 for a
// letter alone or followed by iB, 1000 for a letter followed by B; 0 when
// the text does not end in such a form here. p is never the terminator.
uintmax_t unit_base(const char *p)
{
	if (p[1] == '\0')
		return 1024;
	if ((p[1] == 'B' || p[1] == 'b') && p[2] == '\0')
		return 1000;
	if (p[1] == 'i' && (p[2] == 'B' || p[2] == 'b') && p[3] == '\0')
		return 1024;
	return 0;
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
	if (!is_digit(*text))
		return -EINVAL;
	int digit = 0;
	for (; is_digit(*text); text++) {
		if (*text == '0')
			continue;
		if (digit)
			return -EINVAL;
		digit = *text - '0';
	}
	*end = text;
	return digit;
}

// From a character that is no unit form, read the fraction up to the unit
// letter, where *p is left. It may come in several pieces, one per decimal
// point, of which only one may be non-zero.
int read_fraction(const char **p, size_fraction *fraction)
{
	const lconv *lc = localeconv();
	const char *point = lc ? lc->decimal_point : nullptr;
	const size_t point_len = point ? strlen(point) : 0;
	const char *s = *p;
	do {
		if (fraction->digit || point_len == 0 || strncmp(s, point, point_len) != 0)
			return -EINVAL;
		s += point_len;
		for (const char *z = s; *z == '0'; z++)
			fraction->zeros++;
		const int digit = fraction_digit(s, &s);
		if (digit < 0)
			return digit;
		fraction->digit = static_cast<uintmax_t>(digit);
		// A fraction says nothing without the unit it is a fraction of;
		// a zero one leaves nothing to look ahead from either.
		if (!*s)
			return -EINVAL;
	} while (!unit_base(s));
	*p = s;
	return 0;
}

// The exponent of a unit letter, 0 for any other character. The two
// alphabets run in step.
int unit_exponent(char letter)
{
	for (int i = 0; SIZE_SUFFIXES_UPPER[i]; i++)
		if (SIZE_SUFFIXES_UPPER[i] == letter || SIZE_SUFFIXES_LOWER[i] == letter)
			return i + 1;
	return 0;
}

// The digit counts as thousandths of the unit one exponent down; each
// three zeros before it lower the unit once more.
int fraction_bytes(const size_fraction &fraction, uintmax_t base, int exponent, uintmax_t *bytes)
{
	static constexpr uintmax_t THOUSANDTHS[] = {100, 10, 1};
	const size_t lower = fraction.zeros / 3;
	if (lower >= static_cast<size_t>(exponent))
		return -EINVAL;
	uintmax_t y = fraction.digit * THOUSANDTHS[fraction.zeros % 3];
	bool fits = true;
	for (int k = exponent - 1 - static_cast<int>(lower); fits && k > 0; k--)
		fits = multiply_checked(&y, base);
	// A cut-short fraction would be a wrong size taken as right: the whole
	// text is out of range instead.
	if (!fits)
		return -ERANGE;
	*bytes = y;
	return 0;
}

} // namespace

int parse_byte_size(const char *text, uintmax_t *result, int *power)
{
	*result = 0;
	uintmax_t value;
	const char *p = nullptr;
	if (int rc = read_integer(text, &value, &p))
		return fail(rc);
	if (!*p) {
		*result = value;
		return 0;
	}

	size_fraction fraction = {0, 0};
	uintmax_t base = unit_base(p);
	if (!base) {
		if (int rc = read_fraction(&p, &fraction))
			return fail(rc);
		base = unit_base(p);
	}
	const int exponent = unit_exponent(*p);
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

	if (fraction.digit) {
		uintmax_t bytes;
		if (int frc = fraction_bytes(fraction, base, exponent, &bytes))
			return fail(frc);
		if (value > UINTMAX_MAX - bytes)
			return fail(-ERANGE);
		value += bytes;
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
