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
// and the zeros that stood directly after the decimal point.
struct size_fraction {
	uintmax_t digit;
	size_t zeros;
};

// A unit form that ends the text: the base it counts in, and the letter's
// exponent, 0 when there is no such form.
struct size_unit {
	uintmax_t base;
	int exponent;
};

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
// character not taken; *decimal tells whether the digits were decimal.
int read_integer(const char *text, uintmax_t *value, const char **end, bool *decimal)
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
	const char *digits = text;
	for (; digits < stop && !is_digit(*digits); digits++)
		if (*digits == '-')
			return -EINVAL;
	// 0x, or a 0 before further digits, names another base; 0 alone is 0.
	*decimal = *digits != '0' || stop - digits == 1;
	if ((*value == 0 || *value == UINTMAX_MAX) && errno)
		return -errno;
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

// The unit at p: a letter alone or followed by iB counts in 1024s, a letter
// followed by B in 1000s; nothing may follow.
size_unit read_unit(const char *p)
{
	const int exponent = unit_exponent(*p);
	const char *form = p + 1;
	if (!exponent)
		return {0, 0};
	if (!form[0] || (form[0] == 'i' && (form[1] == 'B' || form[1] == 'b') && !form[2]))
		return {1024, exponent};
	if ((form[0] == 'B' || form[0] == 'b') && !form[1])
		return {1000, exponent};
	return {0, 0};
}

// The fraction at *p, up to where *p is left. Its digits follow the point
// at once: after a blank or a sign the zeros counted here would be lost, and
// "1. 05M" taken for 1.5M. Leading and trailing zeros say nothing; a second
// significant digit is refused, since the fraction rule would count it at
// face value, ten times over, and so reach past the size written. A second
// point is left where it stands, for the unit to refuse: 1.0.5M is a typo
// that no reading is sure of.
int read_fraction(const char **p, size_fraction *fraction)
{
	const lconv *lc = localeconv();
	const char *point = lc ? lc->decimal_point : nullptr;
	const size_t point_len = point ? strlen(point) : 0;
	const char *s = *p;
	if (point_len == 0 || strncmp(s, point, point_len) != 0)
		return -EINVAL;
	s += point_len;
	if (!is_digit(*s))
		return -EINVAL;
	for (; *s == '0'; s++)
		fraction->zeros++;
	for (; is_digit(*s); s++) {
		if (*s == '0')
			continue;
		if (fraction->digit)
			return -EINVAL;
		fraction->digit = static_cast<uintmax_t>(*s - '0');
	}
	*p = s;
	return 0;
}

// The digit counts as thousandths of the unit one exponent down; each
// three zeros before it lower the unit once more.
int fraction_bytes(const size_fraction &fraction, const size_unit &unit, uintmax_t *bytes)
{
	static constexpr uintmax_t THOUSANDTHS[] = {100, 10, 1};
	const size_t lower = fraction.zeros / 3;
	if (lower >= static_cast<size_t>(unit.exponent))
		return -EINVAL;
	uintmax_t y = fraction.digit * THOUSANDTHS[fraction.zeros % 3];
	bool fits = true;
	for (int k = unit.exponent - 1 - static_cast<int>(lower); fits && k > 0; k--)
		fits = multiply_checked(&y, unit.base);
	// A cut-short fraction would be a wrong size taken as right: the whole
	// text is out of range instead.
	if (!fits)
		return -ERANGE;
	*bytes = y;
	return 0;
}

// The size of text into *result, which keeps 0 where no value is left
// behind; 0 or a negative errno value.
int read_size(const char *text, uintmax_t *result, int *power)
{
	uintmax_t value;
	const char *p = nullptr;
	bool decimal = true;
	if (int rc = read_integer(text, &value, &p, &decimal))
		return rc;
	if (!*p) {
		*result = value;
		return 0;
	}

	// What stands between the integer and the unit letter is a fraction.
	// It is decimal, so it follows a decimal integer alone: after 0x1 or
	// 010 it would add to a size in another base, one never written.
	size_fraction fraction = {0, 0};
	if (!unit_exponent(*p)) {
		if (!decimal)
			return -EINVAL;
		if (int rc = read_fraction(&p, &fraction))
			return rc;
	}
	const size_unit unit = read_unit(p);
	if (!unit.exponent)
		return -EINVAL;

	int rc = 0;
	for (int i = 0; i < unit.exponent; i++) {
		if (!multiply_checked(&value, unit.base)) {
			rc = -ERANGE;
			break;
		}
	}
	if (power)
		*power = unit.exponent;

	if (fraction.digit) {
		uintmax_t bytes;
		if (int frc = fraction_bytes(fraction, unit, &bytes))
			return frc;
		if (value > UINTMAX_MAX - bytes)
			return -ERANGE;
		value += bytes;
	}
	*result = value;
	return rc;
}

} // namespace

int parse_byte_size(const char *text, uintmax_t *result, int *power)
{
	*result = 0;
	const int rc = read_size(text, result, power);
	if (rc)
		errno = -rc;
	return rc;
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
