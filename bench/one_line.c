// SPDX-License-Identifier: GPL-2.0-or-later
/*
 * The start-up yardstick: a dynamically linked C program that prints one
 * line through the same call and format as the tool's version line, and
 * nothing else.
 */
#include "version.h"

#include <stdio.h>

int main(void)
{
	printf("%s from %s\n", "sectrim", PACKAGE_STRING);
	return 0;
}
