// SPDX-License-Identifier: GPL-2.0-or-later
// Locales for tests, compiled with localedef into the build tree (directory
// TEST_LOCALE_DIR) so that no test depends on what the machine has installed.
#pragma once

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>

// Names of the locales built; their LC_NUMERIC decimal points are ",", and
// U+066B (two bytes in UTF-8).
inline constexpr char COMMA_LOCALE[] = "de_DE.UTF-8";
inline constexpr char MULTIBYTE_POINT_LOCALE[] = "ps_AF.UTF-8";
inline constexpr char MULTIBYTE_POINT[] = "\xd9\xab";

// Switch to the named test locale for every category; a failure if unloadable.
inline ::testing::AssertionResult use_test_locale(const char *name)
{
	setenv("LOCPATH", TEST_LOCALE_DIR, 1);
	if (setlocale(LC_ALL, name))
		return ::testing::AssertionSuccess();
	return ::testing::AssertionFailure() << "localedef could not build " << name;
}

// Tests that start, and leave, in the C locale whatever the one before did.
class CLocaleTest : public ::testing::Test {
protected:
	void SetUp() override { setlocale(LC_ALL, "C"); }
	void TearDown() override { setlocale(LC_ALL, "C"); }
};
