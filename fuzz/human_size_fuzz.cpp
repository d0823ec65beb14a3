// SPDX-License-Identifier: GPL-2.0-or-later
// Fuzz human_size_text: short, well-formed, and close to the exact size.
#include "fuzz_input.h"
#include "human_text.h"

#include <cmath>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	if (size < 9)
		return 0;
	uint64_t bytes;
	memcpy(&bytes, data, sizeof bytes);
	const int options = data[8];
	char *text = human_size_text(options, bytes);
	fail_if(!text);
	const size_t len = strlen(text);
	fail_if(len > 31);

	char *end;
	const unsigned long whole = strtoul(text, &end, 10);
	fail_if(end == text || whole > 1024);
	double shown = static_cast<double>(whole);
	if (*end == '.') {
		fail_if(end[1] < '1' || end[1] > '9');
		shown += (end[1] - '0') / 10.0;
		end += 2;
	}
	fail_if((options & HUMAN_SIZE_BLANK) && *end++ != ' ');
	const char *unit = strchr(HUMAN_SIZE_UNITS, *end);
	fail_if(!*end || !unit);
	const bool ib = (options & HUMAN_SIZE_IB) && *unit != 'B';
	fail_if(strcmp(end + 1, ib ? "iB" : "") != 0);

	// The digit counts 1024ths of the unit as if they were thousandths,
	// rounded to a tenth: up to half a tenth, plus 1023 * (1/1000 -
	// 1/1024) for the scale, plus the dropped low bits.
	const double exact = std::ldexp(static_cast<double>(bytes),
					-10 * static_cast<int>(unit - HUMAN_SIZE_UNITS));
	fail_if(std::fabs(shown - exact) > 0.05 + 0.024 + 1.0 / 1024);
	free(text);
	return 0;
}
