// SPDX-License-Identifier: GPL-2.0-or-later
// The range walk as numbers: from the options and the device's geometry,
// the plan of the walk or the rule that refuses it, each request in turn,
// and when a progress line is due. No system call and nothing but the
// unsigned type's own arithmetic, so that the same code can be run for
// every input at a width of a few bits.
#pragma once

#include <sys/time.h>

// Why a range is refused, in the order the checks are made: where the range
// starts, where it ends, then how it is cut.
enum plan_refusal {
	PLAN_OK,
	PLAN_OFFSET_UNALIGNED,
	PLAN_OFFSET_PAST_END,
	PLAN_LENGTH_UNALIGNED,
	PLAN_STEP_UNALIGNED,
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
	U chunk; // bytes per request before the cut at the end; under
		 // PLAN_LENGTH_UNALIGNED and PLAN_STEP_UNALIGNED the value refused
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
	// The range must end on a sector boundary, so that no request is
	// refused half way through the walk. Only a stepped range may end
	// where the device does, whatever the device's size: its last request
	// is cut there.
	if ((end - offset) % ask.sector != U{} && (ask.step == U{} || end != ask.size))
		return {PLAN_LENGTH_UNALIGNED, offset, offset, end - offset};
	if (ask.step % ask.sector != U{})
		return {PLAN_STEP_UNALIGNED, offset, offset, ask.step};
	return {PLAN_OK, offset, end, ask.step != U{} ? ask.step : end - offset};
}

// The request at position, which is the start or where the request before
// ended: one chunk, or what is left of the range; nothing at its end.
template <typename U> constexpr range_request<U> next_request(const range_plan<U> &plan, U position)
{
	const U left = plan.end - position;
	return {position, left < plan.chunk ? left : plan.chunk};
}

// A progress line is due once a whole second has passed since last: the
// seconds went up by two, or by one without the microseconds going down.
inline bool progress_due(const struct timeval *last, const struct timeval *now)
{
	return now->tv_sec > last->tv_sec &&
	       (now->tv_usec >= last->tv_usec || now->tv_sec > last->tv_sec + 1);
}
