// SPDX-License-Identifier: GPL-2.0-or-later
// Fuzz the byte-size parser: no crash, no read past the text, and the value
// agrees with plain arithmetic wherever that is easy to state.
#include "byte_size.h"
#include "fuzz_input.h"

#include <cerrno>
#include <cinttypes>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <string>

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
	if (s.size() < 2 || s.size() > 18)
		return false;
	std::string digits = s.substr(0, s.size() - 1);
	if (!plain_decimal(digits))
		return false;
	switch (s.back()) {
	case 'K':
		*unit = uintmax_t{1} << 10;
		break;
	case 'M':
		*unit = uintmax_t{1} << 20;
		break;
	case 'G':
		*unit = uintmax_t{1} << 30;
		break;
	default:
		return false;
	}
	*number = strtoumax(digits.c_str(), nullptr, 10);
	return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	// An exact-size heap copy, so that a read past the NUL is caught.
	std::string text(reinterpret_cast<const char *>(data), size);
	if (text.find('\0') != std::string::npos)
		return 0;
	char *copy = strdup(text.c_str());

	uintmax_t value = 1;
	int power = -1;
	errno = 0;
	int rc = parse_byte_size(copy, &value, &power);
	if (rc != 0) {
		fail_if(rc != -errno);
		// A unit multiplication that overflows keeps what it reached;
		// every other failure leaves 0.
		fail_if(rc != -ERANGE && value != 0);
	}
	fail_if(rc == 0 && plain_decimal(text) && value != strtoumax(copy, nullptr, 10));
	uintmax_t number, unit;
	if (decimal_with_unit(text, &number, &unit)) {
		bool fits = number <= UINTMAX_MAX / unit;
		fail_if(fits != (rc == 0));
		fail_if(fits && value != number * unit);
	}
	free(copy);
	return 0;
}
