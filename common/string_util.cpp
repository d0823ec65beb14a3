// SPDX-License-Identifier: GPL-2.0-or-later
// Small string facilities. All but the concatenations work in place on the
// caller's text and hand back positions and lengths, never copies.
#include "string_util.h"

#include "exit_report.h"

#include <cctype>
#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

bool ends_word(char c, const char *separators)
{
	// strchr would find the terminator in every set.
	return c == '\0' || strchr(separators, c);
}

// 1 or 0 from the first pair holding word, -1 when none does. A first word
// without a partner ends the pairs and is never compared.
int match_pairs(const char *word, va_list pairs)
{
	for (;;) {
		const char *one = va_arg(pairs, const char *);
		if (!one)
			return -1;
		const char *zero = va_arg(pairs, const char *);
		if (!zero)
			return -1;
		if (strcmp(word, one) == 0)
			return 1;
		if (strcmp(word, zero) == 0)
			return 0;
	}
}

} // namespace

size_t escaped_span(const char *text, const char *stop)
{
	size_t i = 0;
	bool escaped = false;
	// The escape test comes first, so a backslash never stops the span
	// even when stop holds one.
	for (; text[i]; i++) {
		if (escaped)
			escaped = false;
		else if (text[i] == '\\')
			escaped = true;
		else if (strchr(stop, text[i]))
			break;
	}
	return escaped ? i - 1 : i;
}

int all_digits(const char *text)
{
	if (!text || !*text)
		return 0;
	for (; *text; text++)
		if (!isdigit(static_cast<unsigned char>(*text)))
			return 0;
	return 1;
}

int boolean_word_or_exit(const char *word, const char *message, ...)
{
	va_list pairs;
	va_start(pairs, message);
	int found = match_pairs(word, pairs);
	va_end(pairs);
	if (found < 0)
		exit_bad_text(false, message, word);
	return found;
}

const char *find_char_bounded(const char *text, size_t n, char c)
{
	for (size_t i = 0; i < n && text[i]; i++)
		if (text[i] == c)
			return text + i;
	return nullptr;
}

int path_text_equal(const char *a, const char *b)
{
	if (!a || !b)
		return !a && !b;
	if (strcmp(a, b) == 0)
		return 1;
	size_t a_len = strlen(a);
	size_t b_len = strlen(b);
	if (a_len && a[a_len - 1] == '/')
		a_len--;
	if (b_len && b[b_len - 1] == '/')
		b_len--;
	return a_len == b_len && strncmp(a, b, a_len) == 0;
}

char *concat_alloc_n(const char *s, const char *t, size_t n)
{
	if (!s && !t)
		return strdup("");
	if (!s)
		return strndup(t, n);
	if (!t)
		return strdup(s);

	size_t s_len = strlen(s);
	if (n > SIZE_MAX - 1 - s_len)
		return nullptr;
	char *joined = static_cast<char *>(malloc(s_len + n + 1));
	if (!joined)
		return nullptr;
	memcpy(joined, s, s_len);
	memcpy(joined + s_len, t, n);
	joined[s_len + n] = '\0';
	return joined;
}

char *concat_alloc(const char *s, const char *t)
{
	return concat_alloc_n(s, t, t ? strlen(t) : 0);
}

const char *next_word(const char **cursor, size_t *length, const char *separators, int quoting)
{
	const char *p = *cursor;
	if (!*p)
		return nullptr;
	const char *w = p + strspn(p, separators);
	if (!*w) {
		*cursor = w;
		return nullptr;
	}

	if (!quoting) {
		*length = strcspn(w, separators);
		*cursor = w + *length;
		return w;
	}

	// A malformed word leaves the cursor on its first character, which is
	// never the terminator, so the caller can tell it from the end.
	if (!strchr(WORD_QUOTE_CHARS, *w)) {
		*length = escaped_span(w, separators);
		if (!ends_word(w[*length], separators)) {
			*cursor = w;
			return nullptr;
		}
		*cursor = w + *length;
		return w;
	}

	const char quote[] = {*w, '\0'};
	*length = escaped_span(w + 1, quote);
	if (w[1 + *length] != *w || !ends_word(w[*length + 2], separators)) {
		*cursor = w;
		return nullptr;
	}
	*cursor = w + *length + 2;
	return w + 1;
}

int skip_to_line_end(FILE *stream)
{
	for (;;) {
		int c = fgetc(stream);
		if (c == EOF)
			return 1;
		if (c == '\n')
			return 0;
	}
}
