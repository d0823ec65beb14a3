// SPDX-License-Identifier: GPL-2.0-or-later
// Monotonic and boot timestamps as struct timeval.
#pragma once

#include <sys/time.h>
#include <time.h>

// The raw monotonic clock: the one clock that NTP does not slew, so that an
// interval is counted at the hardware's own rate. Returns 0, or -1 with
// errno set and *tv untouched.
int monotonic_timestamp(struct timeval *tv);

// The wall-clock time at which the system booted. Returns 0 or -errno.
int boot_timestamp(struct timeval *tv);

// The arithmetic of boot_timestamp, apart from the clocks: wall time less
// the time since boot, borrowing a second when the microseconds go negative.
struct timeval boot_time_from_uptime(const struct timeval *wall, const struct timespec *uptime);
// The same from the whole seconds sysinfo reports; the microseconds are 0.
struct timeval boot_time_from_uptime_seconds(const struct timeval *wall, long uptime_seconds);
