// SPDX-License-Identifier: GPL-2.0-or-later
// Fuzz find_char_bounded against memchr over the bytes it may look at: the
// first n, or fewer where the text ends first.
#include "fuzz_input.h"
#include "string_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	const char c = static_cast<char>(take_byte(&data, &size));
	const size_t n = take_byte(&data, &size);
	heap_text text(take_piece(&data, &size));
	const void *expected = memchr(text.text, c, strnlen(text.text, n));
	fail_if(find_char_bounded(text.text, n, c) != expected);
	return 0;
}
