// SPDX-License-Identifier: GPL-2.0-or-later
// Fuzz escaped_span: the span stays inside the text and stops only on a
// member of the set that no backslash escapes.
#include "fuzz_input.h"
#include "string_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	heap_text set(take_piece(&data, &size));
	heap_text text(take_piece(&data, &size));
	const size_t len = strlen(text.text);
	const size_t span = escaped_span(text.text, set.text);
	fail_if(span > len);
	fail_if(span < len && text.text[span] != '\\' && !strchr(set.text, text.text[span]));
	return 0;
}
