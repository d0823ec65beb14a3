// SPDX-License-Identifier: GPL-2.0-or-later
// Cutting a fuzz input into the pieces a function takes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

// Take the next piece up to a 0x01 byte (or the end), without NULs, so
// that each piece can be handed over as a C string.
inline std::string take_piece(const uint8_t **data, size_t *size)
{
	std::string piece;
	while (*size) {
		uint8_t c = **data;
		(*data)++;
		(*size)--;
		if (c == 0x01)
			break;
		if (c)
			piece += static_cast<char>(c);
	}
	return piece;
}

inline uint8_t take_byte(const uint8_t **data, size_t *size)
{
	if (!*size)
		return 0;
	uint8_t c = **data;
	(*data)++;
	(*size)--;
	return c;
}

// An exact-size heap copy, so that AddressSanitizer sees a read past the end.
struct heap_text {
	char *text;
	explicit heap_text(const std::string &s) : text(strdup(s.c_str())) {}
	~heap_text() { free(text); }
	heap_text(const heap_text &) = delete;
	heap_text &operator=(const heap_text &) = delete;
};

// A property of the target that does not hold: stop, so that the fuzzer
// keeps the input.
inline void fail_if(bool broken)
{
	if (broken)
		abort();
}
