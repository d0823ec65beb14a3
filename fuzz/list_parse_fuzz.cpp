// SPDX-License-Identifier: GPL-2.0-or-later
// Fuzz the four list parsers with a lookup that maps tokens to numbers:
// every token lies inside the list and is never empty, results stay within
// their documented codes, and the identifier arrays are never overrun.
#include "fuzz_input.h"
#include "list_parse.h"

namespace {

const char *list_begin;
const char *list_end;

// '!' fails as unknown, '-' gives a negative number, anything else a bit
// number from 0 to 63 taken from the token's bytes.
int lookup(const char *token, size_t length)
{
	fail_if(length == 0 || token < list_begin || token + length > list_end);
	if (token[0] == '!')
		return -1;
	if (token[0] == '-')
		return -5;
	unsigned sum = 0;
	for (size_t i = 0; i < length; i++)
		sum += static_cast<unsigned char>(token[i]);
	return static_cast<int>(sum % 64);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	const size_t capacity = take_byte(&data, &size) % 8;
	const size_t running = take_byte(&data, &size) % 10;
	heap_text list(take_piece(&data, &size));
	list_begin = list.text;
	list_end = list.text + strlen(list.text);

	int *ids = capacity ? static_cast<int *>(malloc(capacity * sizeof(int))) : nullptr;
	int rc = list_to_ids(list.text, ids, capacity, lookup);
	fail_if(rc == 0 || rc < -2 || rc > static_cast<int>(capacity));

	size_t count = running;
	rc = list_append_ids(list.text, ids, capacity, &count, lookup);
	fail_if(rc == 0 || rc < -2 || count > (running > capacity ? running : capacity));

	unsigned char bits[8] = {};
	rc = list_set_bits(list.text, bits, lookup);
	fail_if(rc != 0 && rc != -1 && rc != -5);

	uint32_t mask = 0;
	rc = list_to_mask(list.text, &mask, lookup);
	fail_if(rc != 0 && rc != -1 && rc != -5);
	free(ids);
	return 0;
}
