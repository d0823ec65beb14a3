// SPDX-License-Identifier: GPL-2.0-or-later
// Byte-size parser: worked results, malformed texts, locales, overflow.
#include "byte_size.h"
#include "locale_env.h"
#include "refused_sizes.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

namespace {

constexpr uintmax_t KiB = 1024, MiB = KiB * 1024;

struct size_case {
	const char *text;
	int rc;          // 0, -EINVAL or -ERANGE
	uintmax_t value; // the result left behind, also after a failure
};

void expect_cases(const std::vector<size_case> &cases)
{
	for (const size_case &c : cases) {
		uintmax_t value = 12345;
		errno = 0;
		SCOPED_TRACE(std::string("text '") + (c.text ? c.text : "(null)") + "'");
		int rc = parse_byte_size_plain(c.text, &value);
		EXPECT_EQ(rc, c.rc);
		EXPECT_EQ(value, c.value);
		EXPECT_EQ(errno, rc ? -rc : 0);
	}
}

class ByteSize : public CLocaleTest {};

TEST_F(ByteSize, WorkedResults)
{
	expect_cases({
		{"4096", 0, 4096},
		{"0x10K", 0, 16 * KiB},
		{"010K", 0, 8 * KiB},
		{"1K", 0, KiB},
		{"1KiB", 0, KiB},
		{"1Kib", 0, KiB},
		{"1KB", 0, 1000},
		{"1kB", 0, 1000},
		{"1Kb", 0, 1000},
		{"1M", 0, MiB},
		{"1MB", 0, 1000000},
		{"1e", 0, EiB},
		{"1.5M", 0, 1560576},
		{"1.5MB", 0, 1500000},
		{"1.05M", 0, 1099776},
		{"1.005M", 0, 1053696},
		{"1.0005M", 0, 1049076},
		{"1.5K", 0, 1524},
		{"0.5K", 0, 500},
		{"1.08M", 0, 1130496},
		{"1.0M", 0, MiB},
		{"15E", 0, 15 * EiB},
		{"0Y", 0, 0},
		{"0Z", 0, 0},
		{"  7K", 0, 7 * KiB},
		{"+2K", 0, 2 * KiB},
		{"0x1E", 0, 30},
		{"0x1B", 0, 27},
		{"0x10KB", 0, 16000},
		{"18446744073709551615", 0, UINTMAX_MAX},
		// Trailing zeros of a fraction say nothing.
		{"1.50M", 0, 1560576},
		{"1.10M", 0, 1150976},
		{"1.0500M", 0, 1099776},
		{"1.5000000000000000000000M", 0, 1560576},
		{"15.9E", 0, 18307132485261066240u},
	});
}

// The refused texts, shared with the tool's test of its options.
TEST_F(ByteSize, RefusedTexts)
{
	std::vector<size_case> cases = {{nullptr, -EINVAL, 0}};
	for (const char *text : INVALID_SIZES)
		cases.push_back({text, -EINVAL, 0});
	for (const out_of_range_size &size : OUT_OF_RANGE_SIZES)
		cases.push_back({size.text, -ERANGE, size.left});
	expect_cases(cases);
}

TEST_F(ByteSize, ExponentIsReportedOnlyWithAUnitLetter)
{
	const struct {
		const char *text;
		int power;
	} cases[] = {
		// clang-format off
		{"1K",   1},
		{"1MiB", 2},
		{"3gB",  3},
		{"1.5T", 4},
		{"16E",  6},
		{"1Z",   8},
		{"42",   -1},
		{"1X",   -1},
		// clang-format on
	};
	for (const auto &c : cases) {
		uintmax_t value;
		int power = -1;
		parse_byte_size(c.text, &value, &power);
		EXPECT_EQ(power, c.power) << c.text;
	}
}

TEST_F(ByteSize, CommaDecimalPoint)
{
	ASSERT_TRUE(use_test_locale(COMMA_LOCALE));
	expect_cases({
		{"1,5M", 0, 1560576},
		{"1,5MB", 0, 1500000},
		{"1.5M", -EINVAL, 0},
		{"1,5", -EINVAL, 0},
	});
}

TEST_F(ByteSize, MultiBytePointIsMatchedWhole)
{
	ASSERT_TRUE(use_test_locale(MULTIBYTE_POINT_LOCALE));
	const std::string whole = std::string("1") + MULTIBYTE_POINT + "5M";
	const std::string first_byte = std::string("1") + MULTIBYTE_POINT[0] + "5M";
	const std::string tail = std::string("1") + MULTIBYTE_POINT + "5";
	// U+066A, whose first byte in UTF-8 is the point's.
	const std::string first_byte_shared = std::string("1") + MULTIBYTE_POINT[0] + '\xaa' + "5M";
	expect_cases({
		{whole.c_str(), 0, 1560576},
		{first_byte.c_str(), -EINVAL, 0},
		{first_byte_shared.c_str(), -EINVAL, 0},
		{tail.c_str(), -EINVAL, 0},
		{"1.5M", -EINVAL, 0},
	});
}

TEST(ByteSizeOrExit, ReturnsTheValue)
{
	EXPECT_EQ(byte_size_or_exit("4K", "failed to parse offset"), 4096u);
}

TEST(ByteSizeOrExitDeathTest, DiagnosticCarriesTheSystemText)
{
	EXPECT_EXIT(byte_size_or_exit("1x", "failed to parse offset"), ::testing::ExitedWithCode(1),
		    ": failed to parse offset: '1x': Invalid argument\n$");
	EXPECT_EXIT(byte_size_or_exit("16E", "failed to parse length"),
		    ::testing::ExitedWithCode(1),
		    ": failed to parse length: '16E': Numerical result out of range\n$");
	EXPECT_EXIT(byte_size_or_exit(nullptr, "failed to parse step"),
		    ::testing::ExitedWithCode(1),
		    ": failed to parse step: '': Invalid argument\n$");
}

} // namespace
