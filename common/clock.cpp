// SPDX-License-Identifier: GPL-2.0-or-later
// Monotonic and boot timestamps as struct timeval.
#include "clock.h"

#include <sys/sysinfo.h>

#include <cerrno>

int monotonic_timestamp(struct timeval *tv)
{
	struct timespec ts;
	int rc = clock_gettime(CLOCK_MONOTONIC_RAW, &ts);
	if (rc != 0)
		return rc;
	tv->tv_sec = ts.tv_sec;
	tv->tv_usec = ts.tv_nsec / 1000;
	return 0;
}

struct timeval boot_time_from_uptime(const struct timeval *wall, const struct timespec *uptime)
{
	struct timeval boot;
	boot.tv_sec = wall->tv_sec - uptime->tv_sec;
	boot.tv_usec = wall->tv_usec - uptime->tv_nsec / 1000;
	if (boot.tv_usec < 0) {
		boot.tv_sec--;
		boot.tv_usec += 1000000;
	}
	return boot;
}

struct timeval boot_time_from_uptime_seconds(const struct timeval *wall, long uptime_seconds)
{
	struct timeval boot;
	boot.tv_sec = wall->tv_sec - uptime_seconds;
	boot.tv_usec = 0;
	return boot;
}

int boot_timestamp(struct timeval *tv)
{
	struct timeval wall;
	if (gettimeofday(&wall, nullptr) != 0)
		return -errno;

	// The boot-time clock counts suspended time too, as the wall clock does.
	struct timespec uptime;
	if (clock_gettime(CLOCK_BOOTTIME, &uptime) == 0) {
		*tv = boot_time_from_uptime(&wall, &uptime);
		return 0;
	}

	struct sysinfo info;
	if (sysinfo(&info) != 0)
		return -errno;
	*tv = boot_time_from_uptime_seconds(&wall, info.uptime);
	return 0;
}
