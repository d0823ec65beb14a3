// SPDX-License-Identifier: GPL-2.0-or-later
// Strict numeric conversions: accepted texts and their values, as the
// platform's widths of long and time_t decide, and the one diagnostic line
// of a refusal.
#include "locale_env.h"
#include "strict_number.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr char MESSAGE[] = "bad number";

// Every member seen alike: the value it returns, as text.
struct member {
	const char *name;
	std::string (*value)(const char *text);
};

template <auto convert> std::string integer_value(const char *text)
{
	return std::to_string(convert(text, MESSAGE));
}

const member INT64 = {"int64", integer_value<text_to_int64_or_exit>};
const member INT32 = {"int32", integer_value<text_to_int32_or_exit>};
const member INT16 = {"int16", integer_value<text_to_int16_or_exit>};
const member UINT64 = {"uint64", integer_value<text_to_uint64_or_exit>};
const member UINT32 = {"uint32", integer_value<text_to_uint32_or_exit>};
const member UINT16 = {"uint16", integer_value<text_to_uint16_or_exit>};
const member LONG = {"long", integer_value<text_to_long_or_exit>};
const member ULONG = {"ulong", integer_value<text_to_ulong_or_exit>};

// Shortest round-trip form, the same in every locale.
const member DOUBLE = {"double", [](const char *text) {
			       char buf[64];
			       double d = text_to_double_or_exit(text, MESSAGE);
			       return std::string(buf, std::to_chars(buf, buf + sizeof buf, d).ptr);
		       }};
const member TIMEVAL = {"timeval", [](const char *text) {
				timeval tv{};
				text_to_timeval_or_exit(text, &tv, MESSAGE);
				return std::to_string(tv.tv_sec) + " s " +
				       std::to_string(tv.tv_usec) + " us";
			}};

const member *const INTEGER_MEMBERS[] = {&INT64,  &INT32,  &INT16, &UINT64,
					 &UINT32, &UINT16, &LONG,  &ULONG};
const member *const ALL_MEMBERS[] = {&INT64,  &INT32, &INT16, &UINT64, &UINT32,
				     &UINT16, &LONG,  &ULONG, &DOUBLE, &TIMEVAL};

// A refusal's line: errx's, or with range err's with ERANGE's text.
void expect_refused(const member *m, const char *text, bool range)
{
	std::string line = std::string(": ") + MESSAGE + ": '";
	for (const char *c = text ? text : ""; *c; c++)
		line += (strchr("\\^$.|?*+()[]{}", *c) ? "\\" : "") + std::string(1, *c);
	line += range ? "': Numerical result out of range\n$" : "'\n$";
	EXPECT_EXIT(m->value(text), ::testing::ExitedWithCode(1), line)
		<< m->name << " '" << (text ? text : "(null)") << "'";
}

struct refusal {
	const member *m;
	const char *text;
	bool range;
};

void expect_refused(const std::vector<refusal> &cases)
{
	for (const auto &c : cases)
		expect_refused(c.m, c.text, c.range);
}

// Where the platform's width of long or time_t decides, a row names both
// outcomes; REFUSED stands for a range error.
constexpr bool LONG_IS_64 = sizeof(long) == 8;
constexpr bool TIME_IS_64 = sizeof(time_t) == 8;
constexpr const char *REFUSED = nullptr;

struct accept_case {
	const member *m;
	const char *text;
	const char *value;
};

// A success leaves errno 0, whatever it was before.
void expect_accepted(const std::vector<accept_case> &cases)
{
	for (const auto &c : cases) {
		if (c.value == REFUSED) {
			expect_refused(c.m, c.text, true);
			continue;
		}
		errno = EBUSY;
		EXPECT_EQ(c.m->value(c.text), c.value) << c.m->name << " '" << c.text << "'";
		EXPECT_EQ(errno, 0) << c.m->name << " '" << c.text << "'";
	}
}

class StrictNumber : public CLocaleTest {};
using StrictNumberDeathTest = StrictNumber;

TEST_F(StrictNumber, SyntaxSharedByTheIntegerMembers)
{
	std::vector<accept_case> cases;
	for (const member *m : INTEGER_MEMBERS)
		for (auto [text, value] :
		     {std::pair{"  42", "42"}, {"+7", "7"}, {"010", "10"}, {"0", "0"}})
			cases.push_back({m, text, value});
	expect_accepted(cases);
}

TEST_F(StrictNumber, LimitsAndWrappedNegatives)
{
	expect_accepted({
		{&INT64, "-9223372036854775808", "-9223372036854775808"},
		{&INT64, "9223372036854775807", "9223372036854775807"},
		{&INT32, "-2147483648", "-2147483648"},
		{&INT32, "2147483647", "2147483647"},
		{&INT16, "32767", "32767"},
		{&INT16, "-32768", "-32768"},
		{&UINT64, "18446744073709551615", "18446744073709551615"},
		{&UINT64, "-1", "18446744073709551615"},
		{&UINT64, "-18446744073709551615", "1"},
		{&UINT32, "4294967295", "4294967295"},
		{&UINT32, "-18446744073709551615", "1"},
		{&UINT16, "65535", "65535"},
		{&UINT16, "-18446744073709551615", "1"},
		{&DOUBLE, "1e3", "1000"},
		{&DOUBLE, "0x1p4", "16"},
		{&DOUBLE, " -2.5", "-2.5"},
		{&DOUBLE, "inf", "inf"},
		{&DOUBLE, "nan", "nan"},
	});
}

TEST_F(StrictNumber, LongFollowsThePlatform)
{
	expect_accepted({
		{&ULONG, "-18446744073709551615", LONG_IS_64 ? "1" : REFUSED},
		{&ULONG, "-1", LONG_IS_64 ? "18446744073709551615" : "4294967295"},
		{&ULONG, "4294967296", LONG_IS_64 ? "4294967296" : REFUSED},
		{&LONG, "2147483647", "2147483647"},
		{&LONG, "-2147483648", "-2147483648"},
		{&LONG, "2147483648", LONG_IS_64 ? "2147483648" : REFUSED},
		{&LONG, "-2147483649", LONG_IS_64 ? "-2147483649" : REFUSED},
		{&LONG, "-9223372036854775808", LONG_IS_64 ? "-9223372036854775808" : REFUSED},
		{&LONG, "9223372036854775807", LONG_IS_64 ? "9223372036854775807" : REFUSED},
	});
}

// Both fields truncated toward zero, never rounded or normalised.
TEST_F(StrictNumber, TimevalSplitsSecondsAndMicroseconds)
{
	expect_accepted({
		{&TIMEVAL, "1.5", "1 s 500000 us"},
		{&TIMEVAL, "3", "3 s 0 us"},
		{&TIMEVAL, "0.000001", "0 s 1 us"},
		{&TIMEVAL, "0.0000005", "0 s 0 us"},
		{&TIMEVAL, "1.001", "1 s 999 us"},
		{&TIMEVAL, "12.345678", "12 s 345677 us"},
		{&TIMEVAL, "-1.5", "-1 s -500000 us"},
		{&TIMEVAL, "-0.25", "0 s -250000 us"},
	});
}

// A 64-bit time_t holds every double below 2^63 in magnitude, 2^31 and
// 2038 included; a 32-bit seconds field refuses them.
TEST_F(StrictNumber, TimevalSecondsFollowTheirWidth)
{
	expect_accepted({
		{&TIMEVAL, "2147483648.25", TIME_IS_64 ? "2147483648 s 250000 us" : REFUSED},
		{&TIMEVAL, "4294967296.5", TIME_IS_64 ? "4294967296 s 500000 us" : REFUSED},
		{&TIMEVAL, "-9223372036854775808",
		 TIME_IS_64 ? "-9223372036854775808 s 0 us" : REFUSED},
		{&TIMEVAL, "9223372036854774784",
		 TIME_IS_64 ? "9223372036854774784 s 0 us" : REFUSED},
	});
}

TEST_F(StrictNumber, DecimalPointOfTheLocale)
{
	ASSERT_TRUE(use_test_locale(COMMA_LOCALE));
	expect_accepted({{&DOUBLE, "1,5", "1.5"}, {&TIMEVAL, "1,25", "1 s 250000 us"}});
	ASSERT_TRUE(use_test_locale(MULTIBYTE_POINT_LOCALE));
	const std::string text = std::string("1") + MULTIBYTE_POINT + "5";
	expect_accepted({{&DOUBLE, text.c_str(), "1.5"}});
}

TEST_F(StrictNumberDeathTest, NoNumberOrTextAfterItFailsWithoutSystemText)
{
	for (const member *m : ALL_MEMBERS)
		for (const char *text :
		     {static_cast<const char *>(nullptr), "", "-", " ", "+", "x1"})
			expect_refused(m, text, false);
	for (const member *m : INTEGER_MEMBERS)
		for (const char *text : {"42 ", "0x10", "1.5", "4-2"})
			expect_refused(m, text, false);
	expect_refused({{&DOUBLE, "1,5", false}, {&TIMEVAL, "1.5s", false}});
}

TEST_F(StrictNumberDeathTest, OutOfRangeCarriesTheSystemText)
{
	expect_refused({
		{&INT64, "9223372036854775808", true},
		{&INT64, "-9223372036854775809", true},
		{&INT64, "99999999999999999999x", true},
		{&INT32, "2147483648", true},
		{&INT32, "-2147483649", true},
		{&INT16, "32768", true},
		{&INT16, "-32769", true},
		{&INT16, "99999999999", true},
		{&UINT64, "18446744073709551616", true},
		{&UINT32, "4294967296", true},
		{&UINT32, "-1", true},
		{&UINT16, "65536", true},
		{&UINT16, "-1", true},
		{&DOUBLE, "1e999", true},
		{&DOUBLE, "-1e999", true},
		{&DOUBLE, "1e-400", true},
		{&TIMEVAL, "1e999", true},
	});
}

// Beyond 64 bits every long and unsigned long is out of range.
TEST_F(StrictNumberDeathTest, LongRefusesWhatNoWidthHolds)
{
	expect_refused({
		{&LONG, "9223372036854775808", true},
		{&LONG, "-9223372036854775809", true},
		{&ULONG, "18446744073709551616", true},
		{&ULONG, "-18446744073709551616", true},
	});
}

// 2^63 and beyond no seconds field holds.
TEST_F(StrictNumberDeathTest, TimevalRefusesWhatTheSecondsCannotHold)
{
	expect_refused({
		{&TIMEVAL, "inf", true},
		{&TIMEVAL, "-inf", true},
		{&TIMEVAL, "nan", true},
		{&TIMEVAL, "9223372036854775808", true},
		{&TIMEVAL, "-9223372036854777856", true},
		{&TIMEVAL, "1e19", true},
	});
}

TEST_F(StrictNumberDeathTest, CommaLocaleRefusesThePoint)
{
	ASSERT_TRUE(use_test_locale(COMMA_LOCALE));
	expect_refused({{&DOUBLE, "1.5", false}, {&TIMEVAL, "1.5", false}});
}

} // namespace
