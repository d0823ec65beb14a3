// SPDX-License-Identifier: GPL-2.0-or-later
// Fuzz the byte-size parser: no crash, no read past the text, and the value
// agrees with plain arithmetic wherever that is easy to state.
#include "byte_size.h"
#include "fuzz_input.h"

#include <cerrno>
#include <cinttypes>

namespace {

bool plain_decimal(const std::string &s)
{
	if (s.empty() || s.size() > 19 || s[0] == '0')
		return false;
	return s.find_first_not_of("0123456789") == std::string::npos;
}

// An integer without leading zero and one of K, M, G: "12M".
bool decimal_with_unit(const std::string &s, uintmax_t *number, uintmax_t *unit)
{
	static constexpr char UNITS[] = "KMG";
	const char *letter = s.empty() ? nullptr : strchr(UNITS, s.back());
	std::string digits = s.substr(0, s.size() - 1);
	if (s.size() < 2 || s.size() > 18 || !letter || !*letter || !plain_decimal(digits))
		return false;
	*unit = uintmax_t{1} << (10 * (letter - UNITS + 1));
	*number = strtoumax(digits.c_str(), nullptr, 10);
	return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	const std::string text(reinterpret_cast<const char *>(data), size);
	if (text.find('\0') != std::string::npos)
		return 0;
	heap_text copy(text);

	uintmax_t value = 1;
	int power = -1;
	errno = 0;
	int rc = parse_byte_size(copy.text, &value, &power);
	if (rc != 0) {
		fail_if(rc != -errno);
		// A unit multiplication that overflows keeps what it reached;
		// every other failure leaves 0.
		fail_if(rc != -ERANGE && value != 0);
	}
	fail_if(rc == 0 && plain_decimal(text) && value != strtoumax(copy.text, nullptr, 10));
	uintmax_t number, unit;
	if (decimal_with_unit(text, &number, &unit)) {
		bool fits = number <= UINTMAX_MAX / unit;
		fail_if(fits != (rc == 0));
		fail_if(fits && value != number * unit);
	}
	return 0;
}
