// SPDX-License-Identifier: GPL-2.0-or-later
// The range walk as numbers: from the options and the device's geometry,
// the plan of the walk or the rule that refuses it, and each request in
// turn. No system call and nothing but the unsigned type's own arithmetic,
// so that the same code can be run for every input at a width of a few bits.
#pragma once

// Why a range is refused, in the order the checks are made.
enum plan_refusal {
	PLAN_OK,
	PLAN_OFFSET_UNALIGNED,
	PLAN_OFFSET_PAST_END,
	PLAN_CHUNK_UNALIGNED,
};

// What was asked (offset, length, step as given) and what the device is.
// The sector size is at least 1: the device probe turns away anything less.
template <typename U> struct range_ask {
	U offset, length, step;
	U size, sector;
};

template <typename U> struct range_plan {
	plan_refusal refusal;
	U start; // the offset
	U end;   // the first byte past the range; start when refused
	U chunk; // bytes per request before the cut at the end; the size refused
		 // under PLAN_CHUNK_UNALIGNED
};

// One request: the bytes [start, start + length). Length 0 ends the walk.
template <typename U> struct range_request {
	U start, length;
};

// A refused plan is empty, so that even a walk of it asks for nothing.
template <typename U> constexpr range_plan<U> plan_range(const range_ask<U> &ask)
{
	const U offset = ask.offset;
	if (offset % ask.sector != U{})
		return {PLAN_OFFSET_UNALIGNED, offset, offset, U{}};
	if (offset > ask.size)
		return {PLAN_OFFSET_PAST_END, offset, offset, U{}};
	// A length past the device end, or one whose end wraps past the
	// largest value, means "up to the end".
	U end = offset + ask.length;
	if (end < offset || end > ask.size)
		end = ask.size;
	// Only the chunk is checked: a length cut at the device end need not
	// be aligned, and with a step only the step is.
	const U chunk = ask.step != U{} ? ask.step : end - offset;
	if (chunk % ask.sector != U{})
		return {PLAN_CHUNK_UNALIGNED, offset, offset, chunk};
	return {PLAN_OK, offset, end, chunk};
}

// The request at position: one chunk, or what is left of the range.
template <typename U> constexpr range_request<U> next_request(const range_plan<U> &plan, U position)
{
	if (!(position < plan.end))
		return {position, U{}};
	const U left = plan.end - position;
	return {position, left < plan.chunk ? left : plan.chunk};
}
