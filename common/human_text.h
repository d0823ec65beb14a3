// SPDX-License-Identifier: GPL-2.0-or-later
// Byte count to short text for people (1.5K, 976.6 KiB); file mode to the
// type letter and nine permission characters (drwxr-xr-x).
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

// The letter at position i stands for 1024^i bytes.
inline constexpr char HUMAN_SIZE_UNITS[] = "BKMGTPE";

// Options of human_size_text; other bits are ignored.
inline constexpr int HUMAN_SIZE_IB = 1;    // KiB, MiB, ...; bytes stay B
inline constexpr int HUMAN_SIZE_BLANK = 2; // a blank before the unit

// A whole number of the largest unit that keeps it above zero, one digit
// after the locale's decimal point when it is not 0, and the unit. The
// caller frees the result; NULL when it cannot be allocated.
char *human_size_text(int options, uint64_t bytes);

// Room for the type letter, nine permission characters and the NUL.
inline constexpr size_t MODE_TEXT_SIZE = 11;

// Write the mode as in "ls -l" into text, which holds MODE_TEXT_SIZE bytes.
// An unknown file type writes no letter, leaving nine characters.
void mode_to_text(mode_t mode, char *text);
