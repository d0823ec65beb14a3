// SPDX-License-Identifier: GPL-2.0-or-later
// The range planner held to the rules of the walk: for every input at a
// width of five bits, where 2^5 wraps as 2^64 does; then at 64 bits, for
// boundary rows and random values. No device is needed.
#include "range_plan.h"

#include <gtest/gtest.h>

#include <compare>
#include <cstdint>
#include <random>
#include <string>

namespace {

// An unsigned integer of BITS bits that wraps at 2^BITS as uint64_t wraps at
// 2^64. A plain uint8_t would not: it is promoted to int before any sum.
template <unsigned BITS> struct narrow_uint {
	static constexpr unsigned MASK = (1u << BITS) - 1;
	unsigned value = 0;

	constexpr narrow_uint() = default;
	constexpr explicit narrow_uint(unsigned v) : value(v & MASK) {}
	friend constexpr narrow_uint operator+(narrow_uint a, narrow_uint b)
	{
		return narrow_uint(a.value + b.value);
	}
	friend constexpr narrow_uint operator-(narrow_uint a, narrow_uint b)
	{
		return narrow_uint(a.value - b.value);
	}
	friend constexpr narrow_uint operator%(narrow_uint a, narrow_uint b)
	{
		return narrow_uint(a.value % b.value);
	}
	friend constexpr auto operator<=>(const narrow_uint &, const narrow_uint &) = default;
};

constexpr unsigned BITS = 5;
using small = narrow_uint<BITS>;
static_assert(small(small::MASK) + small(1) == small(0) &&
	      small(0) - small(1) == small(small::MASK));

std::string text(uint64_t v)
{
	return std::to_string(v);
}
std::string text(small v)
{
	return std::to_string(v.value);
}

template <typename U> std::string ask_text(const range_ask<U> &a)
{
	return "offset " + text(a.offset) + ", length " + text(a.length) + ", step " +
	       text(a.step) + ", size " + text(a.size) + ", sector " + text(a.sector);
}

// The rules, stated on their own: the checks in order, and the end of a
// range taken, which is the device end whenever the length reaches past it.
// A refusal also gives the value it names.
template <typename U> plan_refusal rule_refusal(const range_ask<U> &a, U *end, U *chunk)
{
	if (a.offset % a.sector != U{})
		return PLAN_OFFSET_UNALIGNED;
	if (a.size < a.offset)
		return PLAN_OFFSET_PAST_END;
	const U room = a.size - a.offset;
	const U taken = a.length < room ? a.length : room;
	*end = a.offset + taken;
	// Whole sectors, but for a stepped range up to the device end.
	const bool up_to_the_end = taken == room && a.step != U{};
	if (taken % a.sector != U{} && !up_to_the_end) {
		*chunk = taken;
		return PLAN_LENGTH_UNALIGNED;
	}
	// The size of every request but a shorter last one: the step, or the
	// whole range without one.
	*chunk = a.step != U{} ? a.step : taken;
	return a.step % a.sector != U{} ? PLAN_STEP_UNALIGNED : PLAN_OK;
}

// The first rule the planner and its walk break for this input, or "".
// Taken: the requests are whole chunks on sector boundaries, of whole
// sectors on a device of whole sectors, each starting
// where the one before ended, the first at the offset, the last ending at
// the range's end, and none past the device. Refused: the rule that says so,
// and no request at all.
template <typename U> std::string broken_rule(const range_ask<U> &a, size_t most_requests)
{
	U end = a.offset, chunk{};
	const plan_refusal refusal = rule_refusal(a, &end, &chunk);
	const range_plan<U> plan = plan_range(a);
	if (plan.refusal != refusal)
		return "refusal " + std::to_string(plan.refusal) + ", the rules say " +
		       std::to_string(refusal);
	if ((refusal == PLAN_LENGTH_UNALIGNED || refusal == PLAN_STEP_UNALIGNED) &&
	    plan.chunk != chunk)
		return "refused " + text(plan.chunk) + ", not " + text(chunk);
	if (refusal != PLAN_OK)
		end = a.offset;
	U at = a.offset;
	size_t count = 0;
	for (range_request<U> r = next_request(plan, plan.start); r.length != U{};
	     r = next_request(plan, r.start + r.length)) {
		const auto fault = [&](const std::string &what) {
			return "request " + std::to_string(count) + " at " + text(r.start) +
			       " of " + text(r.length) + ": " + what;
		};
		if (r.start != at)
			return fault("the range goes on at " + text(at));
		if (r.start % a.sector != U{})
			return fault("not on a sector boundary");
		// On a device of whole sectors no request can be refused for
		// its length.
		if (a.size % a.sector == U{} && r.length % a.sector != U{})
			return fault("not whole sectors");
		if (r.length > a.size - r.start)
			return fault("past the device end");
		if (r.length > end - r.start)
			return fault("past the range end " + text(end));
		if (r.length > chunk || (r.length != chunk && r.length != end - r.start))
			return fault("not one chunk of " + text(chunk) + " nor the last");
		at = r.start + r.length;
		if (++count > most_requests)
			return "more than " + std::to_string(most_requests) + " requests";
	}
	if (at != end)
		return "the requests end at " + text(at) + ", the range at " + text(end);
	return "";
}

// Every offset, length, step and device size at five bits, with every
// sector size that fits: five million plans, a second or so even in a
// sanitizer's build. The first few broken ones are shown.
TEST(RangePlan, EveryInputAtASmallWidth)
{
	constexpr unsigned VALUES = 1u << BITS;
	unsigned long cases = 0, broken = 0;
	for (unsigned sector = 1; sector < VALUES; sector *= 2)
		for (unsigned offset = 0; offset < VALUES; offset++)
			for (unsigned length = 0; length < VALUES; length++)
				for (unsigned step = 0; step < VALUES; step++)
					for (unsigned size = 0; size < VALUES; size++) {
						const range_ask<small> a = {
							small(offset), small(length), small(step),
							small(size), small(sector)};
						const std::string why = broken_rule(a, VALUES);
						cases++;
						if (!why.empty() && ++broken <= 5)
							ADD_FAILURE() << ask_text(a) << ": " << why;
					}
	EXPECT_EQ(broken, 0u) << "of " << cases << " cases";
	// One sector size per bit, then four values of BITS bits each.
	EXPECT_EQ(cases, static_cast<unsigned long>(BITS) << (4 * BITS));
}

constexpr uint64_t KiB = 1024, MiB = KiB << 10, GiB = MiB << 10;
constexpr uint64_t MAX = UINT64_MAX;
// 2^64 - 512: the largest device with 512-byte sectors.
constexpr uint64_t TOP = MAX - 511;

// The requests of a walk as "start+length, ...", or the refusal's name.
std::string walk_text(const range_ask<uint64_t> &a)
{
	static constexpr const char *REFUSALS[] = {"", "offset unaligned", "offset past end",
						   "length unaligned", "step unaligned"};
	const range_plan<uint64_t> plan = plan_range(a);
	if (plan.refusal != PLAN_OK)
		return REFUSALS[plan.refusal];
	std::string text;
	for (range_request<uint64_t> r = next_request(plan, plan.start); r.length != 0;
	     r = next_request(plan, r.start + r.length))
		text += (text.empty() ? "" : ", ") + std::to_string(r.start) + "+" +
			std::to_string(r.length);
	return text;
}

// Worked walks and the limits of 64 bits, each also held to the rules.
TEST(RangePlan, RowsAt64Bits)
{
	const struct {
		range_ask<uint64_t> ask; // offset, length, step; size, sector
		const char *requests;
	} rows[] = {
		// A stepped range, the last chunk what is left.
		{{MiB, 10 * MiB, 4 * MiB, GiB, 512},
		 "1048576+4194304, 5242880+4194304, 9437184+2097152"},
		{{0, 10 * MiB, 4 * MiB, GiB, 512}, "0+4194304, 4194304+4194304, 8388608+2097152"},
		// Without a step, one request for the whole range.
		{{MiB, 10 * MiB, 0, GiB, 512}, "1048576+10485760"},
		{{0, 8 * MiB, 4 * MiB, GiB, 512}, "0+4194304, 4194304+4194304"},
		{{0, 4 * MiB, 4 * MiB, GiB, 512}, "0+4194304"},
		// A step longer than the range.
		{{0, 4 * MiB, 8 * MiB, GiB, 512}, "0+4194304"},
		{{0, 4096, MiB, GiB, 4096}, "0+4096"},
		// A step through the device end: the last chunk stops there.
		{{1022 * MiB, MAX, 3 * MiB, GiB, 512}, "1071644672+2097152"},
		{{1020 * MiB, GiB, 3 * MiB, GiB, 512}, "1069547520+3145728, 1072693248+1048576"},
		// Nothing to do: the offset at the end, a length of 0, a device of 0.
		{{GiB, MAX, 0, GiB, 512}, ""},
		{{MiB, 0, 0, GiB, 512}, ""},
		{{0, MAX, 0, 0, 512}, ""},
		// A sector as large as the device.
		{{0, MAX, 0, 4096, 4096}, "0+4096"},
		{{4096, MAX, 0, 4096, 4096}, ""},
		// Near 2^64: the whole device in one request, and in two steps
		// of 2^63 whose sum stays below 2^64.
		{{0, MAX, 0, TOP, 512}, "0+18446744073709551104"},
		{{0, MAX, 8ull << 60, TOP, 512},
		 "0+9223372036854775808, 9223372036854775808+9223372036854775296"},
		{{0, MAX, 0, MAX, 1}, "0+18446744073709551615"},
		{{MAX, MAX, 0, MAX, 1}, ""},
		// Offset + length wrapping past 2^64, by one or by the default
		// length: up to the end.
		{{TOP - 512, MAX, 0, TOP, 512}, "18446744073709550592+512"},
		{{512, MAX - 511, 0, GiB, 512}, "512+1073741312"},
		{{TOP - 3584, 8192, 0, TOP, 512}, "18446744073709547520+3584"},
		// A length that reaches 2^64 - 1 exactly, without wrapping.
		{{512, MAX - 512, 0, GiB, 512}, "512+1073741312"},
		// start + step past 2^64: the chunk is cut to the end.
		{{TOP - 3584, MAX, 15ull << 60, TOP, 512}, "18446744073709547520+3584"},
		{{TOP - 3584, MAX, 1024, TOP, 512},
		 "18446744073709547520+1024, 18446744073709548544+1024, "
		 "18446744073709549568+1024, 18446744073709550592+512"},
		{{TOP, MAX, 0, TOP, 512}, ""},
		// A one-byte sector lets any range through, down to the byte.
		{{3, 10, 4, 12, 1}, "3+4, 7+4, 11+1"},
		// Refused, in the order the checks are made.
		{{8192, MAX, 0, 4096, 512}, "offset past end"},
		{{512, 0, 0, 0, 512}, "offset past end"},
		{{512, MAX, 0, GiB, 1024}, "offset unaligned"},
		{{100, MAX, 0, 0, 512}, "offset unaligned"},
		{{0, MAX, 1536, GiB, 1024}, "step unaligned"},
		{{0, 1000, 0, GiB, 512}, "length unaligned"},
		// With a step the range must still end on a sector boundary, and
		// its end is checked before the step.
		{{40 * MiB, 10000, 4096, GiB, 512}, "length unaligned"},
		{{0, 1500000, MiB, GiB, 512}, "length unaligned"},
		{{0, 1000, 512, GiB, 512}, "length unaligned"},
		{{0, 1000, 1000, GiB, 512}, "length unaligned"},
		{{0, 4 * MiB, 1000, GiB, 512}, "step unaligned"},
		{{0, 0, 1000, GiB, 512}, "step unaligned"},
		// An unaligned length cut at the device end passes, and so does
		// a stepped range up to the end of a device of part sectors.
		{{6 * MiB, 3000001, 0, 8 * MiB, 4096}, "6291456+2097152"},
		{{6 * MiB, 3000001, MiB, 8 * MiB, 4096}, "6291456+1048576, 7340032+1048576"},
		{{0, MAX, 512, 1000, 512}, "0+512, 512+488"},
		{{0, 1000, 512, 1000, 512}, "0+512, 512+488"},
		{{0, MAX, 0, 1000, 512}, "length unaligned"},
	};
	for (const auto &row : rows) {
		EXPECT_EQ(walk_text(row.ask), row.requests) << ask_text(row.ask);
		EXPECT_EQ(broken_rule(row.ask, 64), "") << ask_text(row.ask);
	}
}

// Random values of every magnitude, many near 2^64, aligned more often than
// not: the walks of at most a few dozen requests are held to the rules.
TEST(RangePlan, RandomValuesAt64Bits)
{
	std::mt19937_64 random(20261208);
	const auto any = [&]() -> uint64_t {
		switch (random() % 4) {
		case 0:
			return random() % 4096; // small, 0 among them
		case 1:
			return MAX - random() % 65536; // near 2^64
		default:
			return random() >> random() % 64; // of every magnitude
		}
	};
	unsigned long walked = 0, broken = 0;
	while (walked < 200000) {
		const uint64_t sector = uint64_t{1} << random() % 17;
		const auto aligned = [&] {
			const uint64_t v = any();
			return random() % 4 ? v - v % sector : v;
		};
		const range_ask<uint64_t> a = {aligned(), any(), random() % 3 ? aligned() : 0,
					       aligned(), sector};
		// Long walks are the same rules many times over.
		uint64_t end = 0, chunk = 0;
		if (rule_refusal(a, &end, &chunk) == PLAN_OK && chunk != 0 &&
		    (end - a.offset) / chunk > 64)
			continue;
		walked++;
		const std::string why = broken_rule(a, 65);
		if (!why.empty() && ++broken <= 5)
			ADD_FAILURE() << ask_text(a) << ": " << why;
	}
	EXPECT_EQ(broken, 0u);
}

// The pacing of progress lines, on sample readings of the clock.
TEST(ProgressDue, AWholeSecondMustHavePassed)
{
	const struct {
		timeval last, now;
		bool due;
	} cases[] = {
		{{5, 900000}, {6, 500000}, false}, // seconds up by one, microseconds down
		{{5, 200000}, {6, 400000}, true},  {{5, 500000}, {6, 499999}, false},
		{{5, 500000}, {5, 999999}, false}, {{5, 900000}, {7, 100000}, true},
		{{5, 500000}, {6, 500000}, true}, // seconds up by two; exactly one second
		{{0, 0}, {0, 0}, false},          // an unreadable clock never makes a line due
		{{-1, 0}, {0, 0}, true},           {{6, 0}, {5, 0}, false}, // signed comparisons
	};
	for (const auto &c : cases)
		EXPECT_EQ(progress_due(&c.last, &c.now), c.due)
			<< c.last.tv_sec << "." << c.last.tv_usec << " -> " << c.now.tv_sec << "."
			<< c.now.tv_usec;
}

} // namespace
