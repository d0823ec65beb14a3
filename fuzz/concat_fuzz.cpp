// SPDX-License-Identifier: GPL-2.0-or-later
// Fuzz concat_alloc_n and concat_alloc against string arithmetic.
#include "fuzz_input.h"
#include "string_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	const uint8_t flags = take_byte(&data, &size);
	heap_text s(take_piece(&data, &size));
	heap_text t(take_piece(&data, &size));
	const size_t tlen = strlen(t.text);
	const size_t n = tlen ? take_byte(&data, &size) % (tlen + 1) : 0;
	const char *sp = (flags & 1) ? nullptr : s.text;
	const char *tp = (flags & 2) ? nullptr : t.text;

	std::string expected = std::string(sp ? sp : "") + std::string(tp ? tp : "", tp ? n : 0);
	char *got = concat_alloc_n(sp, tp, n);
	fail_if(!got || expected != got);
	free(got);

	expected = std::string(sp ? sp : "") + (tp ? tp : "");
	got = concat_alloc(sp, tp);
	fail_if(!got || expected != got);
	free(got);
	return 0;
}
