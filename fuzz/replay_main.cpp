// SPDX-License-Identifier: GPL-2.0-or-later
// A main() for a fuzz target outside libFuzzer: every file of the corpus
// directories named on the command line goes through the target once, so
// that the ordinary test run exercises each harness and its regressions.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

int main(int argc, char **argv)
{
	size_t inputs = 0;
	for (int i = 1; i < argc; i++)
		for (const auto &entry : std::filesystem::directory_iterator(argv[i])) {
			std::ifstream in(entry.path(), std::ios::binary);
			const std::vector<uint8_t> data{std::istreambuf_iterator<char>(in), {}};
			LLVMFuzzerTestOneInput(data.data(), data.size());
			inputs++;
		}
	printf("%zu inputs replayed\n", inputs);
	// An empty corpus tests nothing: a wrong path must not pass.
	return inputs ? 0 : 1;
}
