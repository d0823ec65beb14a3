// SPDX-License-Identifier: GPL-2.0-or-later
// The support library's hot paths next to the bare C library calls they are
// built on, in one run, so that their ratio can be read off whatever the
// machine's load. Before timing anything the two sides of every pair are
// checked to compute the same thing; --check-only stops after that check.
#include "byte_size.h"
#include "human_text.h"
#include "list_parse.h"
#include "string_util.h"

#include <benchmark/benchmark.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Sizes as people write them, and the same digits for strtoumax alone: one
// conversion of as many digits is the least any size parser has to do.
constexpr struct {
	const char *text;
	const char *digits;
	uintmax_t value;
} SIZE_TEXTS[] = {
	{"4096", "4096", 4096},
	{"0x1000", "0x1000", 4096},
	{"1M", "1", 1048576},
	{"10GiB", "10", 10737418240},
	{"1.5G", "15", 1598029824}, // 500 MiB: thousandths of the unit below
	{"500kB", "500", 500000},
	{"64K", "64", 65536},
	{"123456789", "123456789", 123456789},
};

// One of every unit, with and without a digit after the point.
constexpr uint64_t BYTE_COUNTS[] = {
	0, 1000, 1024, 1536, 5452595, 1073741824, 1649267441664, UINT64_MAX,
};

constexpr char WORD_SEPARATORS[] = " \t";
constexpr size_t LONG_TEXT_WORDS = 4096;

// Words of one to six characters between blanks and the odd tab, as in a
// long option list or a configuration line.
std::string make_word_text()
{
	std::string text;
	for (size_t i = 0; i < LONG_TEXT_WORDS; i++) {
		text += "w" + std::to_string(i % 100000);
		text += i % 7 ? " " : "\t ";
	}
	return text;
}

// Comma-separated tokens such as a list of names.
std::string make_list_text()
{
	std::string text;
	for (size_t i = 0; i < LONG_TEXT_WORDS; i++) {
		if (i)
			text += ',';
		text += "name" + std::to_string(i);
	}
	return text;
}

const std::string WORD_TEXT = make_word_text();
const std::string LIST_TEXT = make_list_text();
int ids[LONG_TEXT_WORDS];

// The cheapest lookup there is, so that the walk is what gets measured.
int token_length(const char *, size_t length)
{
	return static_cast<int>(length);
}

// The words and their total length, by next_word.
size_t next_word_letters(int quoting, size_t *words)
{
	const char *cursor = WORD_TEXT.c_str();
	size_t length, letters = 0;
	*words = 0;
	while (next_word(&cursor, &length, WORD_SEPARATORS, quoting)) {
		letters += length;
		++*words;
	}
	return letters;
}

// The same by strspn and strcspn alone.
size_t strcspn_letters(size_t *words)
{
	const char *p = WORD_TEXT.c_str();
	size_t letters = 0;
	*words = 0;
	for (;;) {
		p += strspn(p, WORD_SEPARATORS);
		if (!*p)
			break;
		size_t length = strcspn(p, WORD_SEPARATORS);
		letters += length;
		++*words;
		p += length;
	}
	return letters;
}

// The tokens of the list through the same lookup, cut by strcspn.
int strcspn_list(int *out)
{
	int count = 0;
	for (const char *p = LIST_TEXT.c_str();; p++) {
		size_t length = strcspn(p, ",");
		out[count++] = token_length(p, length);
		p += length;
		if (!*p)
			break;
	}
	return count;
}

char *snprintf_strdup(uint64_t bytes)
{
	char buf[32];
	snprintf(buf, sizeof buf, "%llu%s", static_cast<unsigned long long>(bytes >> 10), "K");
	return strdup(buf);
}

// One round of each side of the size pair, timed below and counted in
// instructions by `hot_paths --rounds N parse|strtoumax` under callgrind.
void parse_byte_size_round()
{
	for (const auto &t : SIZE_TEXTS) {
		uintmax_t value;
		benchmark::DoNotOptimize(parse_byte_size(t.text, &value, nullptr));
		benchmark::DoNotOptimize(value);
	}
}

void strtoumax_round()
{
	for (const auto &t : SIZE_TEXTS) {
		char *end;
		benchmark::DoNotOptimize(strtoumax(t.digits, &end, 0));
		benchmark::DoNotOptimize(end);
	}
}

void parse_byte_size_mix(benchmark::State &state)
{
	for (auto _ : state)
		parse_byte_size_round();
}

void strtoumax_digits(benchmark::State &state)
{
	for (auto _ : state)
		strtoumax_round();
}

void human_size_text_mix(benchmark::State &state)
{
	for (auto _ : state)
		for (uint64_t bytes : BYTE_COUNTS)
			free(human_size_text(HUMAN_SIZE_IB, bytes));
}

void snprintf_strdup_mix(benchmark::State &state)
{
	for (auto _ : state)
		for (uint64_t bytes : BYTE_COUNTS)
			free(snprintf_strdup(bytes));
}

void next_word_plain(benchmark::State &state)
{
	size_t words;
	for (auto _ : state)
		benchmark::DoNotOptimize(next_word_letters(0, &words));
}

void next_word_quoting(benchmark::State &state)
{
	size_t words;
	for (auto _ : state)
		benchmark::DoNotOptimize(next_word_letters(1, &words));
}

void strcspn_words(benchmark::State &state)
{
	size_t words;
	for (auto _ : state)
		benchmark::DoNotOptimize(strcspn_letters(&words));
}

void list_to_ids_long(benchmark::State &state)
{
	for (auto _ : state) {
		benchmark::DoNotOptimize(
			list_to_ids(LIST_TEXT.c_str(), ids, LONG_TEXT_WORDS, token_length));
		benchmark::ClobberMemory();
	}
}

void strcspn_list_long(benchmark::State &state)
{
	for (auto _ : state) {
		benchmark::DoNotOptimize(strcspn_list(ids));
		benchmark::ClobberMemory();
	}
}

// A ratio means nothing unless both sides did the same work.
bool sides_agree()
{
	bool agree = true;
	for (const auto &t : SIZE_TEXTS) {
		uintmax_t value;
		if (parse_byte_size(t.text, &value, nullptr) != 0 || value != t.value) {
			fprintf(stderr, "parse_byte_size(\"%s\") gave %ju, want %ju\n", t.text,
				value, t.value);
			agree = false;
		}
	}
	for (uint64_t bytes : BYTE_COUNTS) {
		char *text = human_size_text(HUMAN_SIZE_IB, bytes);
		if (!text) {
			fprintf(stderr, "human_size_text(%" PRIu64 ") gave NULL\n", bytes);
			agree = false;
		}
		free(text);
	}
	for (int quoting = 0; quoting <= 1; quoting++) {
		size_t words, base_words;
		size_t letters = next_word_letters(quoting, &words);
		size_t base_letters = strcspn_letters(&base_words);
		if (words != base_words || letters != base_letters || words != LONG_TEXT_WORDS) {
			fprintf(stderr,
				"next_word (quoting %d): %zu words of %zu letters, "
				"strcspn walk: %zu of %zu\n",
				quoting, words, letters, base_words, base_letters);
			agree = false;
		}
	}
	int base_ids[LONG_TEXT_WORDS];
	int count = list_to_ids(LIST_TEXT.c_str(), ids, LONG_TEXT_WORDS, token_length);
	int base_count = strcspn_list(base_ids);
	if (count != base_count || memcmp(ids, base_ids, sizeof ids) != 0) {
		fprintf(stderr, "list_to_ids: %d tokens, strcspn walk: %d, or their ids differ\n",
			count, base_count);
		agree = false;
	}
	return agree;
}

} // namespace

BENCHMARK(parse_byte_size_mix);
BENCHMARK(strtoumax_digits);
BENCHMARK(human_size_text_mix);
BENCHMARK(snprintf_strdup_mix);
BENCHMARK(next_word_plain);
BENCHMARK(next_word_quoting);
BENCHMARK(strcspn_words);
BENCHMARK(list_to_ids_long);
BENCHMARK(strcspn_list_long);

int main(int argc, char **argv)
{
	if (!sides_agree())
		return 1;
	if (argc == 2 && strcmp(argv[1], "--check-only") == 0)
		return 0;
	if (argc == 4 && strcmp(argv[1], "--rounds") == 0) {
		void (*round)() =
			strcmp(argv[3], "parse") == 0 ? parse_byte_size_round : strtoumax_round;
		for (long n = atol(argv[2]); n > 0; n--)
			round();
		return 0;
	}
	benchmark::Initialize(&argc, argv);
	if (benchmark::ReportUnrecognizedArguments(argc, argv))
		return 2;
	benchmark::RunSpecifiedBenchmarks();
	benchmark::Shutdown();
	return 0;
}
