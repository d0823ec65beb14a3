// SPDX-License-Identifier: GPL-2.0-or-later
// The device range operation. Everything the tool asks of the kernel is in
// this file: stat, open (and fcntl when a standard stream was closed),
// fstat, the read-only flag and two geometry requests, one request per
// chunk, close; and the report lines, each written as it is printed. What
// to ask for is the planner's to say.
#include "device_range.h"

#include "clock.h"
#include "i18n.h"
#include "range_plan.h"

#include <err.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <iterator>

namespace {

// The argument of BLKDISCARD, BLKSECDISCARD and BLKZEROOUT: the kernel reads
// two 64-bit values, start then length.
using byte_range = range_request<uint64_t>;
static_assert(sizeof(byte_range) == 2 * sizeof(uint64_t));
static_assert(offsetof(byte_range, start) == 0);
static_assert(offsetof(byte_range, length) == sizeof(uint64_t));

struct device_geometry {
	uint64_t size;   // bytes, from BLKGETSIZE64
	int sector_size; // logical sector size in bytes, from BLKSSZGET
};

// Bytes handled since the last report line, and where they begin.
struct progress_tally {
	uint64_t from_offset;
	uint64_t bytes_done;
};

struct mode_request {
	unsigned long request;
	const char *failure;
	const char *report;
};

// Indexed by the mode.
constexpr mode_request MODE_REQUESTS[] = {
	{BLKDISCARD, N_("%s: BLKDISCARD ioctl failed"),
	 N_("%s: Discarded %llu bytes from the offset %llu\n")},
	{BLKZEROOUT, N_("%s: BLKZEROOUT ioctl failed"),
	 N_("%s: Zero-filled %llu bytes from the offset %llu\n")},
	{BLKSECDISCARD, N_("%s: BLKSECDISCARD ioctl failed"),
	 N_("%s: Discarded %llu bytes from the offset %llu\n")},
};
static_assert(std::size(MODE_REQUESTS) == MODE_SECURE_DISCARD + 1);
static_assert(MODE_REQUESTS[MODE_DISCARD].request == BLKDISCARD &&
	      MODE_REQUESTS[MODE_ZERO_FILL].request == BLKZEROOUT &&
	      MODE_REQUESTS[MODE_SECURE_DISCARD].request == BLKSECDISCARD);

// No command line gives another mode; should one get here all the same, no
// request is the only safe guess about what was meant.
const mode_request &request_for(operation_mode mode)
{
	const auto index = static_cast<unsigned>(mode);
	if (index >= std::size(MODE_REQUESTS))
		abort();
	return MODE_REQUESTS[index];
}

// Started with a standard stream closed, the device takes its descriptor,
// and the stream's output (report lines, diagnostics) would be written into
// the device itself. Move it above them; the stream stays closed.
int keep_off_standard_streams(int fd, const char *path)
{
	if (fd > STDERR_FILENO)
		return fd;
	int moved = fcntl(fd, F_DUPFD, STDERR_FILENO + 1);
	const int saved = errno;
	close(fd); // first: the diagnostic below may go to this very descriptor
	if (moved < 0) {
		errno = saved;
		err(1, _("%s: cannot move the descriptor above the standard streams"), path);
	}
	return moved;
}

int open_block_device(const char *path, bool force)
{
	struct stat st;
	// Opening a node has effects of its own: a FIFO waits for a reader, a
	// watchdog arms, a tape writes a file mark, a serial line waits for
	// carrier. None of these is a block device, so a mistyped path to one
	// is turned away unopened. Whatever stat() cannot tell goes on to
	// open() and the check after it.
	if (stat(path, &st) == 0 &&
	    (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode) || S_ISSOCK(st.st_mode)))
		errx(1, _("%s: not a block device"), path);
	// The exclusive claim fails while a file system, swap, a stacked device
	// or another exclusive opener holds the device, and keeps them off it
	// until the walk is over.
	int fd = open(path, force ? O_WRONLY : O_WRONLY | O_EXCL);
	if (fd < 0 && errno == EBUSY && !force)
		errx(1,
		     _("%s: the device is in use: a mounted file system, active swap, a "
		       "device-mapper, md, LVM or bcache device on it, or another exclusive "
		       "opener holds it; use --force to work on it anyway"),
		     path);
	if (fd < 0)
		err(1, _("cannot open %s"), path);
	fd = keep_off_standard_streams(fd, path);
	if (fstat(fd, &st) != 0)
		err(1, _("stat of %s failed"), path);
	if (!S_ISBLK(st.st_mode))
		errx(1, _("%s: not a block device"), path);
	return fd;
}

device_geometry probe_device(int fd, const char *path)
{
	// Writes to a read-only device fail only at the first request, so the
	// flag is asked first.
	int read_only = 0;
	if (ioctl(fd, BLKROGET, &read_only) != 0)
		err(1, _("%s: BLKROGET ioctl failed"), path);
	if (read_only != 0)
		errx(1, _("%s: the device is read-only"), path);
	device_geometry geometry{};
	if (ioctl(fd, BLKGETSIZE64, &geometry.size) != 0)
		err(1, _("%s: BLKGETSIZE64 ioctl failed"), path);
	if (ioctl(fd, BLKSSZGET, &geometry.sector_size) != 0)
		err(1, _("%s: BLKSSZGET ioctl failed"), path);
	// The kernel never reports such a size, but every check of the plan
	// divides by it.
	if (geometry.sector_size <= 0)
		errx(1, _("%s: invalid sector size %i"), path, geometry.sector_size);
	return geometry;
}

range_plan<uint64_t> plan_or_exit(const char *path, const tool_options *options,
				  const device_geometry &geometry)
{
	const range_plan<uint64_t> plan =
		plan_range<uint64_t>({.offset = options->offset,
				      .length = options->length,
				      .step = options->step,
				      .size = geometry.size,
				      .sector = static_cast<uint64_t>(geometry.sector_size)});
	switch (plan.refusal) {
	case PLAN_OK:
		break;
	case PLAN_OFFSET_UNALIGNED:
		errx(1, _("%s: offset %llu is not aligned to sector size %i"), path,
		     static_cast<unsigned long long>(options->offset), geometry.sector_size);
	case PLAN_OFFSET_PAST_END:
		errx(1, _("%s: offset is greater than device size"), path);
	case PLAN_LENGTH_UNALIGNED:
		errx(1, _("%s: length %llu is not aligned to sector size %i"), path,
		     static_cast<unsigned long long>(plan.chunk), geometry.sector_size);
	case PLAN_STEP_UNALIGNED:
		errx(1, _("%s: step %llu is not aligned to sector size %i"), path,
		     static_cast<unsigned long long>(plan.chunk), geometry.sector_size);
	}
	return plan;
}

void report_progress(const mode_request &op, const char *path, const progress_tally &tally)
{
	printf(_(op.report), path, static_cast<unsigned long long>(tally.bytes_done),
	       static_cast<unsigned long long>(tally.from_offset));
	// A log behind a pipe must show how far the work got even if the run
	// is killed: one write per line, at most one line a second. A failed
	// write stays on the stream for the exit-time check.
	fflush(stdout);
}

// After a chunk of a verbose stepped run: a line once a whole second has
// passed, covering the bytes since the last one, up to the end of done.
void report_when_due(const mode_request &op, const char *path, uint64_t *from_offset,
		     const byte_range &done, struct timeval *last)
{
	struct timeval now = {};
	monotonic_timestamp(&now);
	if (!progress_due(last, &now))
		return;
	const uint64_t done_to = done.start + done.length;
	report_progress(op, path, {*from_offset, done_to - *from_offset});
	*from_offset = done_to;
	*last = now;
}

// One request per chunk and, when paced, a look at the clock after each;
// made twice, so that a quiet walk does not even ask whether it is paced.
// Returns where the bytes not yet reported begin: the bytes done end where
// the last request did, so the walk keeps no count of its own.
template <bool PACED>
uint64_t walk(int fd, const mode_request &op, const char *path, const range_plan<uint64_t> &plan,
	      struct timeval last)
{
	uint64_t from_offset = plan.start;
	for (byte_range range = next_request(plan, plan.start); range.length != 0;
	     range = next_request(plan, range.start + range.length)) {
		if (ioctl(fd, op.request, &range) != 0)
			err(1, _(op.failure), path);
		if constexpr (PACED)
			report_when_due(op, path, &from_offset, range, &last);
	}
	return from_offset;
}

} // namespace

void run_device_range(const char *path, const tool_options *options)
{
	const int fd = open_block_device(path, options->force);
	const device_geometry geometry = probe_device(fd, path);
	const range_plan<uint64_t> plan = plan_or_exit(path, options, geometry);

	const mode_request &op = request_for(options->mode);
	// An unreadable clock leaves the readings at zero; the walk goes on.
	struct timeval last = {};
	monotonic_timestamp(&last);
	// A single request has nothing to pace: only the final line reports it.
	const uint64_t from_offset = options->verbose && options->step != 0
					     ? walk<true>(fd, op, path, plan, last)
					     : walk<false>(fd, op, path, plan, last);

	if (options->verbose && plan.end != from_offset)
		report_progress(op, path, {from_offset, plan.end - from_offset});
	close(fd);
}
