// SPDX-License-Identifier: GPL-2.0-or-later
// Byte count to short text for people, and file mode to permission text.
// Sizes are computed in integers only, so a count near 2^64 is never
// rounded by a conversion to floating point.
#include "human_text.h"

#include <sys/stat.h>

#include <clocale>
#include <cstdio>
#include <cstring>

namespace {

// The bit count of the largest unit not above bytes: 0 for B, 10 for K, up
// to 60 for E, which also takes everything beyond.
int unit_shift(uint64_t bytes)
{
	for (int shift = 10; shift <= 60; shift += 10)
		if ((bytes >> shift) == 0)
			return shift - 10;
	return 60;
}

// Blank, letter, i, B and the NUL: at most five bytes.
void make_suffix(int options, char letter, char *suffix)
{
	if (options & HUMAN_SIZE_BLANK)
		*suffix++ = ' ';
	*suffix++ = letter;
	if ((options & HUMAN_SIZE_IB) && letter != 'B') {
		*suffix++ = 'i';
		*suffix++ = 'B';
	}
	*suffix = '\0';
}

// The remainder in 1024ths of the unit, taken as thousandths and rounded
// to the nearest tenth, halves upward: 0 to 10. Plain bytes have no
// fraction, and their shift of 0 would make the shift below negative.
uint64_t tenths(uint64_t remainder, int shift)
{
	if (shift < 10)
		return 0;
	uint64_t q = remainder >> (shift - 10);
	return (q + 50) / 100;
}

const char *decimal_point()
{
	const lconv *lc = localeconv();
	if (lc && lc->decimal_point && *lc->decimal_point)
		return lc->decimal_point;
	return ".";
}

// Tested in this order; a mode matching none gets no letter.
constexpr struct {
	mode_t type;
	char letter;
} TYPE_LETTERS[] = {
	{S_IFDIR, 'd'},  {S_IFLNK, 'l'}, {S_IFCHR, 'c'}, {S_IFBLK, 'b'},
	{S_IFSOCK, 's'}, {S_IFIFO, 'p'}, {S_IFREG, '-'},
};

// Owner, group, others: the special bit takes the execute position and
// shows there in lower case when execute is also set, upper case when not.
constexpr struct {
	mode_t read, write, execute, special;
	char special_with_execute, special_alone;
} PERMISSION_CLASSES[] = {
	{S_IRUSR, S_IWUSR, S_IXUSR, S_ISUID, 's', 'S'},
	{S_IRGRP, S_IWGRP, S_IXGRP, S_ISGID, 's', 'S'},
	{S_IROTH, S_IWOTH, S_IXOTH, S_ISVTX, 't', 'T'},
};

} // namespace

char *human_size_text(int options, uint64_t bytes)
{
	int shift = unit_shift(bytes);
	char suffix[5];
	make_suffix(options, HUMAN_SIZE_UNITS[shift / 10], suffix);

	// Below 1024 here, so it fits an int; the mask is empty for bytes.
	uint64_t whole = bytes >> shift;
	uint64_t remainder = bytes & ((UINT64_C(1) << shift) - 1);
	uint64_t digit = tenths(remainder, shift);

	char buf[32];
	if (digit == 10) {
		// 1024K rather than a unit change: the unit was chosen before
		// the rounding and stays.
		whole++;
		digit = 0;
	}
	if (digit)
		snprintf(buf, sizeof buf, "%d%s%llu%s", static_cast<int>(whole), decimal_point(),
			 static_cast<unsigned long long>(digit), suffix);
	else
		snprintf(buf, sizeof buf, "%d%s", static_cast<int>(whole), suffix);
	return strdup(buf);
}

void mode_to_text(mode_t mode, char *text)
{
	for (const auto &t : TYPE_LETTERS) {
		if ((mode & S_IFMT) == t.type) {
			*text++ = t.letter;
			break;
		}
	}
	for (const auto &c : PERMISSION_CLASSES) {
		bool execute = mode & c.execute;
		*text++ = (mode & c.read) ? 'r' : '-';
		*text++ = (mode & c.write) ? 'w' : '-';
		if (mode & c.special)
			*text++ = execute ? c.special_with_execute : c.special_alone;
		else
			*text++ = execute ? 'x' : '-';
	}
	*text = '\0';
}
