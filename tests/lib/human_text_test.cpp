// SPDX-License-Identifier: GPL-2.0-or-later
// Human-readable sizes in every option combination and locale; mode strings.
#include "human_text.h"
#include "locale_env.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct size_case {
	uint64_t bytes;
	const char *text[4]; // indexed by the options 0, IB, BLANK, IB | BLANK
};

std::string size_text(int options, uint64_t bytes)
{
	char *p = human_size_text(options, bytes);
	std::string s = p ? p : "(null)";
	free(p);
	return s;
}

void expect_sizes(const std::vector<size_case> &cases)
{
	for (const size_case &c : cases)
		for (int options = 0; options < 4; options++)
			EXPECT_EQ(size_text(options, c.bytes), c.text[options])
				<< "bytes " << c.bytes << ", options " << options;
}

class HumanSize : public CLocaleTest {};

TEST_F(HumanSize, EveryOptionCombination)
{
	expect_sizes({
		{0, {"0B", "0B", "0 B", "0 B"}},
		{1, {"1B", "1B", "1 B", "1 B"}},
		{1023, {"1023B", "1023B", "1023 B", "1023 B"}},
		{1024, {"1K", "1KiB", "1 K", "1 KiB"}},
		{1073, {"1K", "1KiB", "1 K", "1 KiB"}},
		{1074, {"1.1K", "1.1KiB", "1.1 K", "1.1 KiB"}},
		{1280, {"1.3K", "1.3KiB", "1.3 K", "1.3 KiB"}},
		{1536, {"1.5K", "1.5KiB", "1.5 K", "1.5 KiB"}},
		{1894, {"1.9K", "1.9KiB", "1.9 K", "1.9 KiB"}},
		{1973, {"1.9K", "1.9KiB", "1.9 K", "1.9 KiB"}},
		{1974, {"2K", "2KiB", "2 K", "2 KiB"}},
		{1000000, {"976.6K", "976.6KiB", "976.6 K", "976.6 KiB"}},
		{1048575, {"1024K", "1024KiB", "1024 K", "1024 KiB"}},
		{1048576, {"1M", "1MiB", "1 M", "1 MiB"}},
		{1099775, {"1M", "1MiB", "1 M", "1 MiB"}},
		{1099776, {"1.1M", "1.1MiB", "1.1 M", "1.1 MiB"}},
		{1572864, {"1.5M", "1.5MiB", "1.5 M", "1.5 MiB"}},
		{10737418240, {"10G", "10GiB", "10 G", "10 GiB"}},
		{6047313952768, {"5.5T", "5.5TiB", "5.5 T", "5.5 TiB"}},
		{UINT64_C(1) << 50, {"1P", "1PiB", "1 P", "1 PiB"}},
		{UINT64_C(1) << 60, {"1E", "1EiB", "1 E", "1 EiB"}},
		{UINT64_MAX, {"16E", "16EiB", "16 E", "16 EiB"}},
	});
}

TEST_F(HumanSize, IgnoresOtherOptionBits)
{
	EXPECT_EQ(size_text(~0, 1536), "1.5 KiB");
	EXPECT_EQ(size_text(4, 1536), "1.5K");
}

// The point appears only with a digit; texts without one match the C locale.
TEST_F(HumanSize, CommaDecimalPoint)
{
	ASSERT_TRUE(use_test_locale(COMMA_LOCALE));
	expect_sizes({
		{1536, {"1,5K", "1,5KiB", "1,5 K", "1,5 KiB"}},
		{1024, {"1K", "1KiB", "1 K", "1 KiB"}},
		{1974, {"2K", "2KiB", "2 K", "2 KiB"}},
		{1048575, {"1024K", "1024KiB", "1024 K", "1024 KiB"}},
	});
}

TEST_F(HumanSize, MultiBytePointIsCopiedWhole)
{
	ASSERT_TRUE(use_test_locale(MULTIBYTE_POINT_LOCALE));
	const std::string p = MULTIBYTE_POINT;
	EXPECT_EQ(size_text(0, 1536), "1" + p + "5K");
	EXPECT_EQ(size_text(HUMAN_SIZE_IB | HUMAN_SIZE_BLANK, 1000000), "976" + p + "6 KiB");
	EXPECT_EQ(size_text(0, 1048575), "1024K");
}

TEST(ModeText, TypeLetterAndPermissions)
{
	const struct {
		mode_t mode;
		const char *text;
	} cases[] = {
		{S_IFREG | 0644, "-rw-r--r--"},
		{S_IFDIR | 0755, "drwxr-xr-x"},
		{S_IFREG | 04755, "-rwsr-xr-x"},
		{S_IFREG | 04644, "-rwSr--r--"},
		{S_IFREG | 02755, "-rwxr-sr-x"},
		{S_IFREG | 02644, "-rw-r-Sr--"},
		{S_IFDIR | 01777, "drwxrwxrwt"},
		{S_IFDIR | 01776, "drwxrwxrwT"},
		{S_IFREG | 07777, "-rwsrwsrwt"},
		{S_IFREG | 07000, "---S--S--T"},
		{S_IFLNK | 0777, "lrwxrwxrwx"},
		{S_IFBLK | 0660, "brw-rw----"},
		{S_IFCHR | 0620, "crw--w----"},
		{S_IFSOCK | 0755, "srwxr-xr-x"},
		{S_IFIFO | 0644, "prw-r--r--"},
		{0644, "rw-r--r--"},
		{0, "---------"},
	};
	for (const auto &c : cases) {
		char text[MODE_TEXT_SIZE];
		memset(text, 'X', sizeof text);
		mode_to_text(c.mode, text);
		EXPECT_STREQ(text, c.text) << "mode 0" << std::oct << c.mode;
	}
}

} // namespace
