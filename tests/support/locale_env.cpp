// SPDX-License-Identifier: GPL-2.0-or-later
// Locales for tests, compiled by the build (localedef) into the build tree.
#include "locale_env.h"

#include <clocale>
#include <cstdlib>

::testing::AssertionResult use_test_locale(const char *name)
{
	setenv("LOCPATH", TEST_LOCALE_DIR, 1);
	if (setlocale(LC_ALL, name))
		return ::testing::AssertionSuccess();
	return ::testing::AssertionFailure() << "localedef could not build " << name;
}

void use_c_locale()
{
	setlocale(LC_ALL, "C");
}
