// SPDX-License-Identifier: GPL-2.0-or-later
// Cutting a fuzz input into the pieces a function takes; the C library
// headers included here serve every harness.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

// The next byte, 0 past the end.
inline uint8_t take_byte(const uint8_t **data, size_t *size)
{
	if (!*size)
		return 0;
	(*size)--;
	return *(*data)++;
}

// The next piece up to a 0x01 byte or the end, NULs dropped: a C string.
inline std::string take_piece(const uint8_t **data, size_t *size)
{
	std::string piece;
	for (uint8_t c; *size && (c = take_byte(data, size)) != 0x01;)
		if (c)
			piece += static_cast<char>(c);
	return piece;
}

// An exact-size heap copy, so that AddressSanitizer sees a read past the end.
struct heap_text {
	char *text;
	explicit heap_text(const std::string &s) : text(strdup(s.c_str())) {}
	~heap_text() { free(text); }
	heap_text(const heap_text &) = delete;
	heap_text &operator=(const heap_text &) = delete;
};

// A property that does not hold: abort, so that the fuzzer keeps the input.
inline void fail_if(bool broken)
{
	if (broken)
		abort();
}
