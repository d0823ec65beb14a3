// SPDX-License-Identifier: GPL-2.0-or-later
// List, bit-set and range parsers: token splitting, capacity, codes, ranges.
#include "list_parse.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// Every lookup is logged as "offset:token", offsets from the list's start, so
// a case shows both what was handed over and that it was not copied.
const char *list_base;
std::string calls;

// Numbers stand for themselves; any other token for 100 plus its length.
int lookup(const char *token, size_t length)
{
	std::string text(token, length);
	calls += (calls.empty() ? "" : "|") + std::to_string(token - list_base) + ":" + text;
	char *end;
	long value = strtol(text.c_str(), &end, 0);
	return !text.empty() && *end == '\0' ? static_cast<int>(value)
					     : 100 + static_cast<int>(length);
}

const char *start_walk(const char *list)
{
	calls.clear();
	return list_base = list;
}

const char *shown(const char *text)
{
	return text ? text : "(null)";
}

TEST(ListToIds, TokensCapacityAndCodes)
{
	const struct {
		const char *list;
		size_t capacity;
		int rc;
		const char *calls;
		std::vector<int> ids;
	} cases[] = {
		{"a,b", 2, 2, "0:a|2:b", {101, 101}},
		{"a,b,c", 2, -2, "0:a|2:b", {101, 101}},
		{"ab", 1, 1, "0:ab", {102}},
		{"a,,b", 1, -2, "0:a", {101}}, // full before the empty token
		{"a,,b", 3, -1, "0:a", {101}},
		{",a", 3, -1, "", {}},
		{",,", 3, -1, "", {}},
		{"a,,", 3, 2, "0:a|2:,", {101, 101}},
		{"a,", 1, 1, "0:a,", {102}},
		{",", 1, 1, "0:,", {101}},
		{"a, b", 2, 2, "0:a|2: b", {101, 102}},
		{"-5,7", 2, 2, "0:-5|3:7", {-5, 7}},
		{"3,-1,4", 3, -1, "0:3|2:-1", {3}},
	};
	for (const auto &c : cases) {
		int ids[4] = {0, 0, 0, 0};
		SCOPED_TRACE(std::string("list '") + c.list + "' capacity " +
			     std::to_string(c.capacity));
		EXPECT_EQ(list_to_ids(start_walk(c.list), ids, c.capacity, lookup), c.rc);
		EXPECT_EQ(calls, c.calls);
		EXPECT_EQ(std::vector<int>(ids, ids + c.ids.size()), c.ids);
	}
}

TEST(ListToIds, BadArgumentsCallNothing)
{
	int ids[2];
	EXPECT_EQ(list_to_ids(start_walk(""), ids, 2, lookup), -1);
	EXPECT_EQ(list_to_ids(start_walk(nullptr), ids, 2, lookup), -1);
	EXPECT_EQ(list_to_ids(start_walk("a"), nullptr, 2, lookup), -1);
	EXPECT_EQ(list_to_ids(start_walk("a"), ids, 0, lookup), -1);
	EXPECT_EQ(list_to_ids(start_walk("a"), ids, 2, nullptr), -1);
	EXPECT_EQ(calls, "");
}

TEST(ListAppendIds, AppendReplaceAndCount)
{
	// first: the element the writes start at.
	const struct {
		const char *list;
		size_t count_before, capacity;
		int rc;
		size_t count_after, first;
		std::vector<int> written;
	} cases[] = {
		{"+7,8", 3, 8, 2, 5, 3, {7, 8}},
		{"7", 3, 8, 1, 1, 0, {7}},
		{"+-5", 0, 8, 1, 1, 0, {-5}},
		{"+7", 9, 8, -1, 9, 0, {}},
		{"7", 9, 8, -1, 9, 0, {}},
		{"+7", 8, 8, -1, 8, 0, {}},    // no room left: bad arguments, not full
		{"7,-1", 3, 8, -1, 0, 0, {7}}, // the reset stays after a failure
		{"+7,8", 7, 8, -2, 7, 7, {7}},
		{"+", 3, 8, -1, 3, 0, {}},
		{"", 3, 8, -1, 3, 0, {}},
	};
	for (const auto &c : cases) {
		int ids[10];
		std::fill(ids, ids + 10, 99);
		size_t count = c.count_before;
		SCOPED_TRACE(std::string("list '") + c.list + "' count " +
			     std::to_string(c.count_before));
		EXPECT_EQ(list_append_ids(c.list, ids, c.capacity, &count, lookup), c.rc);
		EXPECT_EQ(count, c.count_after);
		std::vector<int> expected(10, 99);
		std::copy(c.written.begin(), c.written.end(),
			  expected.begin() + static_cast<long>(c.first));
		EXPECT_EQ(std::vector<int>(ids, ids + 10), expected);
	}
}

TEST(ListAppendIds, NullArrayOrCount)
{
	size_t count = 2;
	EXPECT_EQ(list_append_ids("+7", nullptr, 8, &count, lookup), -1);
	EXPECT_EQ(count, 2u);
	EXPECT_EQ(list_append_ids("7", nullptr, 8, &count, lookup), -1);
	EXPECT_EQ(count, 0u);
	EXPECT_EQ(list_append_ids("+7", nullptr, 8, &count, lookup), -1);
	int ids[2];
	EXPECT_EQ(list_append_ids("7", ids, 2, nullptr, lookup), -1);
}

TEST(ListSetBits, BitPositionsAndStops)
{
	// bytes: from 0x00 0x00 0x00 0x80.
	const struct {
		const char *list;
		int rc;
		std::vector<unsigned char> bytes;
	} cases[] = {
		// clang-format off
		{"0,9",       0,  {0x01, 0x02, 0x00, 0x80}},
		{"7,8,24",    0,  {0x80, 0x01, 0x00, 0x81}},
		{"",          0,  {0x00, 0x00, 0x00, 0x80}},
		{"0,9,-3,17", -3, {0x01, 0x02, 0x00, 0x80}},
		{"1,,2",      -1, {0x02, 0x00, 0x00, 0x80}},
		// clang-format on
	};
	for (const auto &c : cases) {
		std::vector<unsigned char> bytes = {0x00, 0x00, 0x00, 0x80};
		SCOPED_TRACE(std::string("list '") + c.list + "'");
		EXPECT_EQ(list_set_bits(c.list, bytes.data(), lookup), c.rc);
		EXPECT_EQ(bytes, c.bytes);
	}
	unsigned char byte = 0;
	EXPECT_EQ(list_set_bits(nullptr, &byte, lookup), -EINVAL);
	EXPECT_EQ(list_set_bits("1", nullptr, lookup), -EINVAL);
	EXPECT_EQ(list_set_bits("1", &byte, nullptr), -EINVAL);
}

TEST(ListToMask, OredIntoTheGivenMask)
{
	// mask: from 0x10.
	const struct {
		const char *list;
		int rc;
		uint32_t mask;
	} cases[] = {
		{"0x1,0x4", 0, 0x15},
		{"1,-7,4", -7, 0x11},
		{",1", -1, 0x10},
		{"", 0, 0x10},
	};
	for (const auto &c : cases) {
		uint32_t mask = 0x10;
		EXPECT_EQ(list_to_mask(c.list, &mask, lookup), c.rc) << "list '" << c.list << "'";
		EXPECT_EQ(mask, c.mask) << "list '" << c.list << "'";
	}
	uint32_t mask = 0;
	EXPECT_EQ(list_to_mask(nullptr, &mask, lookup), -EINVAL);
	EXPECT_EQ(list_to_mask("1", nullptr, lookup), -EINVAL);
	EXPECT_EQ(list_to_mask("1", &mask, nullptr), -EINVAL);
}

TEST(ReadIntRange, FormsFailuresAndLimits)
{
	// From lower 111, upper 222 and errno EBUSY.
	const struct {
		const char *text;
		int rc, lower, upper, error;
	} cases[] = {
		{nullptr, 0, 111, 222, EBUSY},
		{"5", 0, 5, 5, 0},
		{"5:9", 0, 5, 9, 0},
		{"5-9", 0, 5, 9, 0},
		{":9", 0, 7, 9, 0},
		{"5:", 0, 5, 0, 0},
		{"-5", 0, -5, -5, 0},
		{"5--3", 0, 5, -3, 0},
		{" 5", 0, 5, 5, 0},
		{"5x", 0, 5, 5, 0},
		{"5-", -1, 5, 0, 0},
		{"5:9x", -1, 5, 9, 0},
		{"5::9", -1, 5, 0, 0},
		{":", -1, 7, 0, 0},
		{"", -1, 0, 0, 0},
		{"x", -1, 0, 0, 0},
		{"2147483647", 0, INT_MAX, INT_MAX, 0},
		{"2147483648", -1, INT_MAX, INT_MAX, ERANGE},
		{"-2147483648", 0, INT_MIN, INT_MIN, 0},
		{"-2147483649", -1, INT_MIN, INT_MIN, ERANGE},
		{"99999999999999999999", -1, INT_MAX, INT_MAX, ERANGE},
		{"5:2147483648", -1, 5, INT_MAX, ERANGE},
		{":-2147483649", -1, 7, INT_MIN, ERANGE},
	};
	for (const auto &c : cases) {
		int lower = 111, upper = 222;
		SCOPED_TRACE(std::string("text '") + shown(c.text) + "'");
		errno = EBUSY;
		const int rc = read_int_range(c.text, &lower, &upper, 7), error = errno;
		EXPECT_EQ(rc, c.rc);
		EXPECT_EQ(lower, c.lower);
		EXPECT_EQ(upper, c.upper);
		EXPECT_EQ(error, c.error);
	}
}

} // namespace
