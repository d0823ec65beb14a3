// SPDX-License-Identifier: GPL-2.0-or-later
// The texts the size parser refuses, grouped by why, for the parser's own test
// and for the tool's options alike.
#pragma once

#include <cstdint>

// Refused with EINVAL; the result is left at 0.
inline constexpr const char *INVALID_SIZES[] = {
	"", "-1", "  -1K", "1Ki", "1KIB", "1KiBx", "1 K", "5 ", "12X", "1B", "1b", "1iB", "1.",
	".5M", "1.-5M", "1.5", "1.0", "2.000", "1.0005K", "08", "08K", "09M", "1,5M", "K", " ",
	// A second significant digit in a fraction would be taken at face value.
	"1.25M", "0.125M", "1.025M", "1.25G", "1.505M", "15.99E", "1.99999999999999E",
	"1.99999999999999999M", "1.184467440737095516M", "1.99999999999999999999M",
	// A decimal fraction after a hexadecimal or octal integer.
	"0x1.8M", "010.5K", "00.5K",
	// No digits right after the decimal point: white space, a sign, nothing.
	"1. 05M", "1. 5M", "1.+5M", "1.\t5M", "1.M", "1..5M",
	// A second decimal point is a typo, whichever piece holds the digit.
	"1.0.5M", "1.5.0M", "1.5.5M"};

// Refused with ERANGE: the integer part keeps what the multiplication
// reached (left, the result left behind); a fraction that does not fit, or
// whose sum with the integer part does not, never yields a value.
inline constexpr uintmax_t EiB = uintmax_t{1} << 60;
inline constexpr struct out_of_range_size {
	const char *text;
	uintmax_t left;
} OUT_OF_RANGE_SIZES[] = {
	{"18446744073709551616", 0},
	{"16E", 16 * (EiB >> 10)},
	{"1Y", EiB},
	{"1Z", EiB},
	{"0.5Y", 0},
	{"18.5EB", 0},
};
