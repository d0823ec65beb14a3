// SPDX-License-Identifier: GPL-2.0-or-later
// Text to byte count: 4096, 0x1000, 1M, 10GiB, 1.5G, 500kB.
#pragma once

#include <cstdint>

// Unit letters; a letter's exponent is its position plus one.
inline constexpr char SIZE_SUFFIXES_UPPER[] = "KMGTPEYZ";
inline constexpr char SIZE_SUFFIXES_LOWER[] = "kmgtpeyz";

// Parse text into *result (0 first, the value on success). Returns 0 or a
// negative errno value, which is also left positive in errno. When power is
// given it receives the suffix exponent once a unit letter was reached.
int parse_byte_size(const char *text, uintmax_t *result, int *power);
int parse_byte_size_plain(const char *text, uintmax_t *result);

// The value of text, or exit 1 with "message: 'text'" and the system text.
uintmax_t byte_size_or_exit(const char *text, const char *message);
