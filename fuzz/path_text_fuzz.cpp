// SPDX-License-Identifier: GPL-2.0-or-later
// Fuzz path_text_equal: symmetric, reflexive, and blind to one trailing
// slash but not to two.
#include "fuzz_input.h"
#include "string_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	heap_text a(take_piece(&data, &size));
	heap_text b(take_piece(&data, &size));
	const int ab = path_text_equal(a.text, b.text);
	fail_if(ab != path_text_equal(b.text, a.text) || (ab != 0 && ab != 1));
	fail_if(!path_text_equal(a.text, a.text));
	// Only one slash is dropped: "/" and "//" differ.
	const std::string plain(a.text);
	heap_text with_slash(plain + "/");
	const bool ends_in_slash = !plain.empty() && plain.back() == '/';
	fail_if(path_text_equal(a.text, with_slash.text) == ends_in_slash);
	fail_if(path_text_equal(a.text, nullptr) || !path_text_equal(nullptr, nullptr));
	return 0;
}
