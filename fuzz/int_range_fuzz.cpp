// SPDX-License-Identifier: GPL-2.0-or-later
// Fuzz read_int_range: only 0 or -1, errno 0 after success, and a range
// error always stores an int limit.
#include "fuzz_input.h"
#include "list_parse.h"

#include <cerrno>
#include <climits>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	heap_text text(take_piece(&data, &size));
	int lower = 1, upper = 2;
	errno = EIO;
	int rc = read_int_range(text.text, &lower, &upper, 7);
	fail_if(rc != 0 && rc != -1);
	fail_if(rc == 0 && errno != 0);
	fail_if(rc == -1 && errno == ERANGE && lower != INT_MAX && lower != INT_MIN &&
		upper != INT_MAX && upper != INT_MIN);
	return 0;
}
