// SPDX-License-Identifier: GPL-2.0-or-later
// Comma-separated lists into identifiers, bits and masks, and integer ranges.
// The four list parsers share one token walk and differ only in what they do
// with each lookup result.
#include "list_parse.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace {

// Hand each token of the list to lookup, in place, and its result to use,
// which returns 0 to go on or a negative code that ends the walk; more is
// set while the list goes on after the token. The last character always
// belongs to the last token, even a comma, so a trailing comma reaches the
// lookup instead of making an empty token.
template <typename Use> int walk_tokens(const char *list, token_lookup_fn lookup, Use use)
{
	const char *start = nullptr;
	for (const char *p = list; *p; p++) {
		if (!start)
			start = p;
		const char *end;
		if (p[1] == '\0')
			end = p + 1;
		else if (*p == ',')
			end = p;
		else
			continue;
		if (end <= start)
			return -1;
		int rc = use(lookup(start, static_cast<size_t>(end - start)), *end != '\0');
		if (rc < 0)
			return rc;
		start = nullptr;
	}
	return 0;
}

// strtol in base 10, held to the range of int: beyond it, the nearest limit
// and ERANGE, as on a system whose long is as wide as int.
int convert_int(const char *text, char **end)
{
	errno = 0;
	long value = strtol(text, end, 10);
	if (value > INT_MAX) {
		errno = ERANGE;
		return INT_MAX;
	}
	if (value < INT_MIN) {
		errno = ERANGE;
		return INT_MIN;
	}
	return static_cast<int>(value);
}

// The second number of a range: taken only when it is all that is left.
int read_upper(const char *text, int *upper)
{
	char *end;
	*upper = convert_int(text, &end);
	if (errno || end == text || *end)
		return -1;
	return 0;
}

} // namespace

int list_to_ids(const char *list, int *ids, size_t capacity, token_lookup_fn lookup)
{
	if (!list || !*list || !ids || capacity == 0 || !lookup)
		return -1;
	size_t count = 0;
	int rc = walk_tokens(list, lookup, [&](int value, bool more) {
		if (value == -1)
			return -1;
		ids[count++] = value;
		// Checked before the next token is looked up, so a lookup never
		// runs for a token that has nowhere to go.
		if (more && count >= capacity)
			return -2;
		return 0;
	});
	if (rc < 0)
		return rc;
	return static_cast<int>(count);
}

int list_append_ids(const char *list, int *ids, size_t capacity, size_t *count,
		    token_lookup_fn lookup)
{
	if (!list || !*list || !count || *count > capacity)
		return -1;
	if (*list == '+') {
		list++;
		// There is nothing valid to append to.
		if (!ids && *count > 0)
			return -1;
	} else {
		*count = 0;
	}
	int added = list_to_ids(list, ids + *count, capacity - *count, lookup);
	if (added > 0)
		*count += static_cast<size_t>(added);
	return added;
}

int list_set_bits(const char *list, unsigned char *bits, token_lookup_fn lookup)
{
	if (!list || !bits || !lookup)
		return -EINVAL;
	return walk_tokens(list, lookup, [bits](int value, bool) {
		if (value < 0)
			return value;
		const auto bit = static_cast<unsigned int>(value);
		bits[bit / 8] |= static_cast<unsigned char>(1u << (bit % 8));
		return 0;
	});
}

int list_to_mask(const char *list, uint32_t *mask, token_lookup_fn lookup)
{
	if (!list || !mask || !lookup)
		return -EINVAL;
	return walk_tokens(list, lookup, [mask](int value, bool) {
		if (value < 0)
			return value;
		*mask |= static_cast<uint32_t>(value);
		return 0;
	});
}

int read_int_range(const char *text, int *lower, int *upper, int fallback)
{
	if (!text)
		return 0;
	*lower = fallback;
	*upper = fallback;
	errno = 0;

	if (*text == ':')
		return read_upper(text + 1, upper);

	char *end;
	*lower = *upper = convert_int(text, &end);
	if (errno || end == text)
		return -1;
	if (end[0] == ':' && end[1] == '\0') {
		*upper = 0;
		return 0;
	}
	if (*end == ':' || *end == '-')
		return read_upper(end + 1, upper);
	// Whatever else follows a lone number is left for the caller.
	return 0;
}
