// SPDX-License-Identifier: GPL-2.0-or-later
// Fuzz find_char_bounded against a plain scan of the same bytes.
#include "fuzz_input.h"
#include "string_util.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	const char c = static_cast<char>(take_byte(&data, &size));
	const size_t n = take_byte(&data, &size);
	heap_text text(take_piece(&data, &size));
	const char *expected = nullptr;
	for (size_t i = 0; i < n && text.text[i]; i++) {
		if (text.text[i] == c) {
			expected = text.text + i;
			break;
		}
	}
	if (find_char_bounded(text.text, n, c) != expected)
		abort();
	return 0;
}
