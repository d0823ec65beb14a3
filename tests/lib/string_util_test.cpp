// SPDX-License-Identifier: GPL-2.0-or-later
// String utilities: spans, words, paths, concatenation and line skipping.
#include "string_util.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

// An exact-size heap copy, so that the sanitizer catches a read past the end.
std::unique_ptr<char[]> exact_copy(const char *text)
{
	size_t size = strlen(text) + 1;
	std::unique_ptr<char[]> copy(new char[size]);
	memcpy(copy.get(), text, size);
	return copy;
}

const char *shown(const char *text)
{
	return text ? text : "(null)";
}

TEST(EscapedSpan, BackslashTakesTheNextCharacter)
{
	const struct {
		const char *text, *stop;
		size_t span;
	} cases[] = {
		// clang-format off
		{"a\\,b,c", ",",  4},
		{"ab\\",    ",",  2},
		{"\\\\,",   ",",  2},
		{"",        ",",  0},
		{",x",      ",",  0},
		{"\\",      ",",  0},
		{"abc",     "",   3},
		{"a\\b",    "\\", 3},
		{"a\\\\b",  "\\", 4},
		// clang-format on
	};
	for (const auto &c : cases) {
		auto text = exact_copy(c.text);
		EXPECT_EQ(escaped_span(text.get(), c.stop), c.span)
			<< "text '" << c.text << "' stop '" << c.stop << "'";
	}
}

TEST(AllDigits, DecimalDigitsOnly)
{
	const struct {
		const char *text;
		int result;
	} cases[] = {
		// clang-format off
		{nullptr, 0},
		{"",      0},
		{"0123",  1},
		{"7",     1},
		{"12a",   0},
		{" 1",    0},
		{"-1",    0},
		{"\xb2",  0},
		// clang-format on
	};
	for (const auto &c : cases)
		EXPECT_EQ(all_digits(c.text), c.result) << "text '" << shown(c.text) << "'";
}

TEST(BooleanWordOrExit, PairsAndExits)
{
	for (auto [word, result] : {std::pair{"yes", 1}, {"no", 0}, {"1", 1}, {"0", 0}})
		EXPECT_EQ(boolean_word_or_exit(word, "bad switch", "yes", "no", "1", "0", nullptr),
			  result)
			<< "word '" << word << "'";

	EXPECT_EXIT(boolean_word_or_exit("Yes", "bad switch", "yes", "no", "1", "0", nullptr),
		    ::testing::ExitedWithCode(1), ": bad switch: 'Yes'\n$");
	EXPECT_EXIT(boolean_word_or_exit("on", "bad switch", "yes", "no", "on", nullptr),
		    ::testing::ExitedWithCode(1), ": bad switch: 'on'\n$");
	EXPECT_EXIT(boolean_word_or_exit("yes", "no pairs", nullptr), ::testing::ExitedWithCode(1),
		    ": no pairs: 'yes'\n$");
}

TEST(FindCharBounded, StopsAtBoundAndTerminator)
{
	// at: where it is found, -1 for NULL.
	const struct {
		const char *text;
		size_t n;
		char c;
		long at;
	} cases[] = {
		// clang-format off
		{"abc", 2,  'b',  1},
		{"abc", 2,  'c',  -1},
		{"abc", 10, 'c',  2},
		{"abc", 10, 'd',  -1},
		{"abc", 10, '\0', -1},
		{"abc", 0,  'a',  -1},
		{"abc", 1,  'a',  0},
		{"aba", 3,  'a',  0},
		// clang-format on
	};
	for (const auto &c : cases) {
		auto text = exact_copy(c.text);
		const char *found = find_char_bounded(text.get(), c.n, c.c);
		EXPECT_EQ(found ? found - text.get() : -1, c.at)
			<< "text '" << c.text << "' n " << c.n << " char " << int(c.c);
	}
}

TEST(PathTextEqual, OneTrailingSlashIgnored)
{
	const struct {
		const char *a, *b;
		int equal;
	} cases[] = {
		// clang-format off
		{"/a/",   "/a",    1},
		{"/a//",  "/a",    0},
		{"/",     "",      1},
		{"//",    "/",     0},
		{"/a/b",  "/a/b/", 1},
		{"/a/b",  "/a/c",  0},
		{"/ab",   "/a/",   0},
		{"/a",    "/a/b",  0},
		{nullptr, nullptr, 1},
		{nullptr, "",      0},
		{"",      nullptr, 0},
		{"a/",    "a/",    1},
		// clang-format on
	};
	for (const auto &c : cases)
		EXPECT_EQ(path_text_equal(c.a, c.b), c.equal)
			<< "'" << shown(c.a) << "' vs '" << shown(c.b) << "'";
}

TEST(Concat, NewStringsAndOverflow)
{
	// n SIZE_MAX stands for concat_alloc.
	const struct {
		const char *s, *t;
		size_t n;
		const char *joined;
	} cases[] = {
		// clang-format off
		{"ab",    "cd",    SIZE_MAX, "abcd"},
		{"ab",    nullptr, SIZE_MAX, "ab"},
		{nullptr, "cd",    SIZE_MAX, "cd"},
		{nullptr, nullptr, SIZE_MAX, ""},
		{nullptr, "cdef",  2,        "cd"},
		{"ab",    "cdef",  2,        "abcd"},
		{"ab",    "cdef",  0,        "ab"},
		{nullptr, "cd",    5,        "cd"},
		{"",      "",      SIZE_MAX, ""},
		// clang-format on
	};
	for (const auto &c : cases) {
		char *joined =
			c.n == SIZE_MAX ? concat_alloc(c.s, c.t) : concat_alloc_n(c.s, c.t, c.n);
		SCOPED_TRACE(std::string("'") + shown(c.s) + "' + '" + shown(c.t) + "' n " +
			     std::to_string(c.n));
		ASSERT_NE(joined, nullptr);
		EXPECT_STREQ(joined, c.joined);
		EXPECT_TRUE(joined != c.s && joined != c.t)
			<< "not a new string: '" << joined << "'";
		free(joined);
	}

	// Exactly n bytes of t, past a NUL in them.
	const char t[] = {'c', '\0', 'd'};
	char *joined = concat_alloc_n("ab", t, 3);
	ASSERT_NE(joined, nullptr);
	EXPECT_EQ(std::string(joined, 6), std::string("abc\0d\0", 6));
	free(joined);

	// A size that wraps is refused before any allocation, errno untouched.
	for (size_t n : {SIZE_MAX, SIZE_MAX - 2}) {
		errno = EBUSY;
		EXPECT_EQ(concat_alloc_n("ab", "x", n), nullptr) << "n " << n;
		EXPECT_EQ(errno, EBUSY) << "n " << n;
	}
}

struct word_step {
	long at; // offset of the word, -1: NULL
	size_t length;
	long cursor;
};

void expect_walk(const char *text, const char *separators, int quoting,
		 const std::vector<word_step> &steps)
{
	auto copy = exact_copy(text);
	const char *cursor = copy.get();
	size_t length = 777; // steps that leave the length alone expect it
	for (size_t i = 0; i < steps.size(); i++) {
		const char *word = next_word(&cursor, &length, separators, quoting);
		SCOPED_TRACE(std::string("text '") + text + "' quoting " + std::to_string(quoting) +
			     " call " + std::to_string(i));
		EXPECT_EQ(word ? word - copy.get() : -1, steps[i].at)
			<< "gave '" << (word ? std::string(word, length) : "(null)") << "'";
		EXPECT_EQ(length, steps[i].length);
		EXPECT_EQ(cursor - copy.get(), steps[i].cursor);
	}
}

TEST(NextWord, QuotingOn)
{
	expect_walk("alpha 'b c' f\\ g", " ", 1, {{0, 5, 5}, {7, 3, 11}, {12, 4, 16}, {-1, 4, 16}});
	expect_walk("''", " ", 1, {{1, 0, 2}, {-1, 0, 2}});
	expect_walk("'abc", " ", 1, {{-1, 3, 0}, {-1, 3, 0}});
	expect_walk("x 'ab'c", " ", 1, {{0, 1, 1}, {-1, 2, 2}});
	expect_walk("'a'\"b\"", " ", 1, {{-1, 1, 0}});
	expect_walk("   ", " ", 1, {{-1, 777, 3}, {-1, 777, 3}});
	expect_walk("", " ", 1, {{-1, 777, 0}});
	expect_walk("ab'c", " ", 1, {{0, 4, 4}, {-1, 4, 4}});
	expect_walk("\"a 'b\" c", " ", 1, {{1, 4, 6}, {7, 1, 8}});
	expect_walk("'a\\'b'", " ", 1, {{1, 4, 6}});
	expect_walk("'ab\\", " ", 1, {{-1, 2, 0}});
	expect_walk("ab\\", " ", 1, {{-1, 2, 0}});
	// A backslash in the set ends the word before it.
	expect_walk("ab\\", " \\", 1, {{0, 2, 2}, {-1, 2, 3}});
	expect_walk(",:a,b:", ",:", 1, {{2, 1, 3}, {4, 1, 5}, {-1, 1, 6}});
}

TEST(NextWord, QuotingOff)
{
	expect_walk("'b c'", " ", 0, {{0, 2, 2}, {3, 2, 5}, {-1, 2, 5}});
	expect_walk("f\\ g", " ", 0, {{0, 2, 2}, {3, 1, 4}});
	expect_walk("  ab  ", " ", 0, {{2, 2, 4}, {-1, 2, 6}});
}

TEST(SkipToLineEnd, RealStreams)
{
	FILE *stream = tmpfile();
	ASSERT_NE(stream, nullptr);
	fputs("ab\ncd", stream);
	rewind(stream);
	EXPECT_EQ(skip_to_line_end(stream), 0);
	EXPECT_EQ(fgetc(stream), 'c');
	EXPECT_EQ(skip_to_line_end(stream), 1);
	fclose(stream);

	// A read error ends the line as end of input does.
	FILE *write_only = fopen("/dev/null", "w");
	ASSERT_NE(write_only, nullptr);
	EXPECT_EQ(skip_to_line_end(write_only), 1);
	fclose(write_only);
}

} // namespace
