// SPDX-License-Identifier: GPL-2.0-or-later
// Fault injection for tests of sectrim, loaded with LD_PRELOAD: between the
// program and open, ioctl and clock_gettime, it logs what the program asks
// for and fakes, fails or slows block requests, steered by the environment:
//   FAULT_LOG=<file>        one line per intercepted call, appended
//   FAULT_SIZE=<u64>        the answer to BLKGETSIZE64
//   FAULT_SECTOR=<int>      the answer to BLKSSZGET
//   FAULT_FAKE=1            data requests succeed without reaching the kernel
//   FAULT_FAIL_AT=<n>       the n-th data request (from 1) fails ...
//   FAULT_FAIL_GEOMETRY=size|sector  ... or that geometry request does,
//   FAULT_ERRNO=<number>    ... with this errno
//   FAULT_DELAY_MS=<n>      sleep before every data request
//   FAULT_CLOCK_FAILS=1     clock_gettime fails with EINVAL
// The shipped binary carries no test hooks.
#include <dlfcn.h>
#include <fcntl.h>
#include <limits.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// With 64-bit time on a 32-bit target the headers rename these two calls;
// the real ones are looked up under the renamed symbols too.
#if defined(__USE_TIME_BITS64) && __TIMESIZE == 32
constexpr char IOCTL_SYMBOL[] = "__ioctl_time64";
constexpr char CLOCK_GETTIME_SYMBOL[] = "__clock_gettime64";
#else
constexpr char IOCTL_SYMBOL[] = "ioctl";
constexpr char CLOCK_GETTIME_SYMBOL[] = "clock_gettime";
#endif

struct fault_config {
	int log_fd = -1; // -1: no log
	bool fake, fail_size, fail_sector, clock_fails;
	uint64_t size;
	int sector, fail_errno;
	long fail_at, delay_ms; // fail_at 0: no data request fails
};

// Log names of the data requests; the log's readers depend on them.
constexpr struct data_request {
	unsigned long request;
	const char *name;
} DATA_REQUESTS[] = {
	{BLKDISCARD, "DISCARD"}, {BLKZEROOUT, "ZEROOUT"}, {BLKSECDISCARD, "SECDISCARD"}};

[[noreturn]] void give_up(const char *what)
{
	dprintf(2, "fault_inject: %s\n", what);
	_exit(125);
}

// The C library's function of that name, looked up once per name.
template <typename function, const char *name> function real()
{
	static const auto fn = reinterpret_cast<function>(dlsym(RTLD_NEXT, name));
	if (!fn)
		give_up("cannot find the real functions");
	return fn;
}
constexpr char OPEN64_SYMBOL[] = "open64";
const auto real_ioctl = real<decltype(&ioctl), IOCTL_SYMBOL>;
const auto real_open64 = real<decltype(&open64), OPEN64_SYMBOL>;
const auto real_clock_gettime = real<decltype(&clock_gettime), CLOCK_GETTIME_SYMBOL>;

// A number in any base; a minus sign wraps around, which the signed
// settings turn back (FAULT_SECTOR=-512).
uint64_t number_from_env(const char *name, uint64_t fallback)
{
	const char *text = getenv(name);
	if (!text || !*text)
		return fallback;
	char *end;
	errno = 0;
	const uint64_t value = strtoull(text, &end, 0);
	if (errno != 0 || *end != '\0')
		give_up("malformed number in the environment");
	return value;
}

fault_config read_config()
{
	fault_config c = {};
	if (const char *log = getenv("FAULT_LOG"); log && *log) {
		c.log_fd = real_open64()(log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
		if (c.log_fd < 0)
			give_up("cannot open FAULT_LOG");
	}
	c.fake = number_from_env("FAULT_FAKE", 0) != 0;
	c.size = number_from_env("FAULT_SIZE", 0);
	c.sector = static_cast<int>(number_from_env("FAULT_SECTOR", 0));
	c.fail_at = static_cast<long>(number_from_env("FAULT_FAIL_AT", 0));
	if (const char *which = getenv("FAULT_FAIL_GEOMETRY"); which && *which) {
		c.fail_size = strcmp(which, "size") == 0;
		c.fail_sector = strcmp(which, "sector") == 0;
		if (!c.fail_size && !c.fail_sector)
			give_up("FAULT_FAIL_GEOMETRY is neither size nor sector");
	}
	c.fail_errno = static_cast<int>(number_from_env("FAULT_ERRNO", EIO));
	c.delay_ms = static_cast<long>(number_from_env("FAULT_DELAY_MS", 0));
	c.clock_fails = number_from_env("FAULT_CLOCK_FAILS", 0) != 0;
	return c;
}

const fault_config &config()
{
	static const fault_config c = read_config();
	return c;
}

// One write(2) per line on O_APPEND: lines never tear, even across processes.
void log_line(const char *format, ...)
{
	if (config().log_fd < 0)
		return;
	char line[PATH_MAX + 64];
	va_list ap;
	va_start(ap, format);
	int n = vsnprintf(line, sizeof line - 1, format, ap);
	va_end(ap);
	if (n < 0 || static_cast<size_t>(n) >= sizeof line - 1)
		give_up("log line too long");
	line[n++] = '\n';
	if (write(config().log_fd, line, static_cast<size_t>(n)) != n)
		give_up("cannot write FAULT_LOG");
}

int fail_with(int error)
{
	return errno = error, -1;
}

int data_ioctl(const data_request &d, int fd, void *arg)
{
	static long count;
	const fault_config &c = config();
	count++;
	// The whole delay, however often a signal cuts it short.
	for (timespec pause = {c.delay_ms / 1000, (c.delay_ms % 1000) * 1000000};
	     c.delay_ms > 0 && nanosleep(&pause, &pause) != 0 && errno == EINTR;)
		;
	// Stamped after the delay: the time the request goes out, which is
	// also the closest to the program's own clock reading after it.
	timespec now;
	real_clock_gettime()(CLOCK_MONOTONIC_RAW, &now);
	const auto *range = static_cast<const uint64_t *>(arg);
	log_line("%s %" PRIu64 " %" PRIu64 " %lld.%06ld", d.name, range[0], range[1],
		 static_cast<long long>(now.tv_sec), now.tv_nsec / 1000);
	if (count == c.fail_at)
		return fail_with(c.fail_errno);
	if (c.fake)
		return 0;
	return real_ioctl()(fd, d.request, arg);
}

} // namespace

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept
{
	va_list ap;
	va_start(ap, request);
	void *arg = va_arg(ap, void *);
	va_end(ap);

	const fault_config &c = config();
	for (const data_request &d : DATA_REQUESTS)
		if (d.request == request)
			return data_ioctl(d, fd, arg);
	// The geometry: logged, then failed, answered from a setting given, or
	// passed on.
	const struct {
		unsigned long request;
		const char *name, *setting;
		bool fail;
		const void *value;
		size_t size;
	} geometry[] = {
		{BLKGETSIZE64, "GETSIZE64", "FAULT_SIZE", c.fail_size, &c.size, sizeof c.size},
		{BLKSSZGET, "SSZGET", "FAULT_SECTOR", c.fail_sector, &c.sector, sizeof c.sector},
	};
	for (const auto &g : geometry) {
		if (g.request != request)
			continue;
		log_line("%s", g.name);
		if (g.fail)
			return fail_with(c.fail_errno);
		if (getenv(g.setting))
			return memcpy(arg, g.value, g.size), 0;
	}
	return real_ioctl()(fd, request, arg);
}

// The paths opened, to tell a node turned away unopened from one refused
// after opening, and the flags, which decide whether the device is claimed.
namespace {
int logged_open(const char *path, int flags, mode_t mode)
{
	// One line per open, whatever the name holds.
	char shown[PATH_MAX] = {};
	for (size_t n = 0; path[n] && n < sizeof shown - 1; n++)
		shown[n] = static_cast<unsigned char>(path[n]) < ' ' ? '?' : path[n];
	log_line("OPEN %#o %s", static_cast<unsigned>(flags), shown);
	return real_open64()(path, flags, mode);
}

} // namespace

// open and open64 are the same call here.
extern "C" int open64(const char *path, int flags, ...)
{
	mode_t mode = 0;
	if (flags & (O_CREAT | O_TMPFILE)) {
		va_list ap;
		va_start(ap, flags);
		mode = va_arg(ap, mode_t);
		va_end(ap);
	}
	return logged_open(path, flags, mode);
}

// open is open64 under 64-bit offsets: the plain name is given by its symbol.
extern "C" int open_plain(const char *path, int flags, ...) __asm__("open")
	__attribute__((alias("open64"), nonnull(1)));

// A fortified build calls these when the flags are not a constant, as
// where --force picks them.
extern "C" int __open64_2(const char *path, int flags)
{
	return logged_open(path, flags, 0);
}
extern "C" int open_2_plain(const char *path, int flags) __asm__("__open_2")
	__attribute__((alias("__open64_2"), nonnull(1)));

// Readings logged to the microsecond, so that tests can replay the pacing;
// benchmarks count instructions through here, so no log, no formatting.
extern "C" int clock_gettime(clockid_t id, timespec *ts) noexcept
{
	if (config().clock_fails) {
		log_line("CLOCK %d failed", static_cast<int>(id));
		return fail_with(EINVAL);
	}
	const int rc = real_clock_gettime()(id, ts);
	log_line("CLOCK %d %lld.%06ld", static_cast<int>(id), static_cast<long long>(ts->tv_sec),
		 ts->tv_nsec / 1000);
	return rc;
}
