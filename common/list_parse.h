// SPDX-License-Identifier: GPL-2.0-or-later
// Comma-separated lists, through a caller's token lookup, into identifier
// arrays, bit arrays and masks; integer ranges written N, N:M, N-M, :M, N:.
#pragma once

#include <cstddef>
#include <cstdint>

// Maps one token to a number. The token is not terminated: the character
// after it is a comma or the end of the list, so only length bytes count.
using token_lookup_fn = int (*)(const char *token, size_t length);

// Store one identifier per token. Returns the count stored (at least 1),
// -1 for bad arguments, an empty token or a lookup result of -1, and -2
// when the array is full while the list goes on.
int list_to_ids(const char *list, int *ids, size_t capacity, token_lookup_fn lookup);

// As list_to_ids, after the *count elements in use when the list starts
// with '+', else replacing them. Returns the number added; *count follows.
int list_append_ids(const char *list, int *ids, size_t capacity, size_t *count,
		    token_lookup_fn lookup);

// Set bit (value) in the byte array for each token; the array must hold
// every bit the lookup can return. Returns 0, -EINVAL for a NULL argument,
// -1 for an empty token, or the first negative lookup result.
int list_set_bits(const char *list, unsigned char *bits, token_lookup_fn lookup);

// As list_set_bits, ORing each lookup result into *mask.
int list_to_mask(const char *list, uint32_t *mask, token_lookup_fn lookup);

// Read a range into *lower and *upper, both first set to fallback; a NULL
// text changes nothing. Returns 0 or -1; errno is then ERANGE for a number
// outside int, else 0.
int read_int_range(const char *text, int *lower, int *upper, int fallback);
