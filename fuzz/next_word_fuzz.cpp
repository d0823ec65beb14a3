// SPDX-License-Identifier: GPL-2.0-or-later
// Fuzz next_word: every word lies inside the text, the cursor never moves
// backwards, and a walk always ends.
#include "fuzz_input.h"
#include "string_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	const int quoting = take_byte(&data, &size) & 1;
	heap_text separators(take_piece(&data, &size));
	heap_text text(take_piece(&data, &size));
	const char *begin = text.text;
	const char *end = begin + strlen(begin);

	// Each word takes at least one character.
	const char *cursor = begin;
	for (size_t steps = 0;; steps++) {
		fail_if(steps > static_cast<size_t>(end - begin) + 1);
		const char *before = cursor;
		size_t length = 0;
		const char *word = next_word(&cursor, &length, separators.text, quoting);
		fail_if(cursor < before || cursor > end);
		if (!word) {
			// At the end, or stuck on a malformed word: either way done.
			fail_if(cursor != end && !*cursor);
			break;
		}
		fail_if(word < begin || word + length > end || word + length > cursor);
		fail_if(cursor == before);
	}
	return 0;
}
