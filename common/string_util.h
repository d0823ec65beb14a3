// SPDX-License-Identifier: GPL-2.0-or-later
// Small string facilities: escape-aware spans, digit and on/off word tests,
// bounded search, path comparison, concatenation, word splitting, line skip.
#pragma once

#include <cstddef>
#include <cstdio>

// The characters that open a quoted word in next_word.
inline constexpr char WORD_QUOTE_CHARS[] = "'\"";

// Length of the leading part of text free of characters in stop, where a
// backslash takes the next character along; a final lone backslash is
// not counted.
size_t escaped_span(const char *text, const char *stop);

// 1 when text is non-empty and all decimal digits, else 0 (also for NULL).
int all_digits(const char *text);

// 1 or 0 for word from pairs of (1-word, 0-word) ended by NULL; otherwise
// exit 1 with "message: 'word'". The message is printed as given.
[[gnu::sentinel]] int boolean_word_or_exit(const char *word, const char *message, ...);

// The first c among the first n bytes of text, stopping at its end; never
// the terminator.
const char *find_char_bounded(const char *text, size_t n, char c);

// 1 when the paths are the same text, allowing one trailing slash on each.
int path_text_equal(const char *a, const char *b);

// A new string of s followed by exactly n bytes of t, for the caller to
// free; either may be NULL. NULL when out of memory or the size overflows.
char *concat_alloc_n(const char *s, const char *t, size_t n);
char *concat_alloc(const char *s, const char *t);

// The next word at *cursor, in place, with its length; quoting lets quotes
// and backslashes hold separators. NULL at the end (cursor on the NUL) and
// for a malformed word (cursor on its first character).
const char *next_word(const char **cursor, size_t *length, const char *separators, int quoting);

// Read up to and including the next newline: 0, or 1 at end of input.
int skip_to_line_end(FILE *stream);
