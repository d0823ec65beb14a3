// SPDX-License-Identifier: GPL-2.0-or-later
/* Coverage builds only: a process that leaves through _exit skips the
 * exit-time write of its coverage counts, and the lines it ran would read
 * as never run. Every program of such a build is linked with
 * -Wl,--wrap=_exit, so its calls come here and write the counts first. */
void __gcov_dump(void);
void __real__exit(int status) __attribute__((noreturn));
void __wrap__exit(int status) __attribute__((noreturn));

void __wrap__exit(int status)
{
	__gcov_dump();
	__real__exit(status);
}
