// SPDX-License-Identifier: GPL-2.0-or-later
// The device range operation. Everything the tool asks of the kernel is in
// this file: stat, open (and fcntl when a standard stream was closed),
// fstat, two geometry requests, one request per chunk, close; and the
// report lines, each written as it is printed.
#include "device_range.h"

#include "clock.h"
#include "i18n.h"

#include <err.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace {

struct mode_request {
	operation_mode mode;
	unsigned long request;
	const char *failure;
	const char *report;
};

// Indexed by operation_mode: each row names the mode it serves, and the
// checks below keep a reordering from turning a zero-fill into a discard.
constexpr mode_request MODE_REQUESTS[] = {
	{MODE_DISCARD, BLKDISCARD, N_("%s: BLKDISCARD ioctl failed"),
	 N_("%s: Discarded %llu bytes from the offset %llu\n")},
	{MODE_ZERO_FILL, BLKZEROOUT, N_("%s: BLKZEROOUT ioctl failed"),
	 N_("%s: Zero-filled %llu bytes from the offset %llu\n")},
	{MODE_SECURE_DISCARD, BLKSECDISCARD, N_("%s: BLKSECDISCARD ioctl failed"),
	 N_("%s: Discarded %llu bytes from the offset %llu\n")},
};
constexpr size_t MODE_COUNT = sizeof(MODE_REQUESTS) / sizeof(MODE_REQUESTS[0]);

constexpr bool rows_follow_modes()
{
	for (size_t i = 0; i < MODE_COUNT; i++)
		if (static_cast<size_t>(MODE_REQUESTS[i].mode) != i)
			return false;
	return true;
}
static_assert(rows_follow_modes(), "MODE_REQUESTS must be indexed by operation_mode");

bool known_mode(operation_mode mode)
{
	return mode >= 0 && static_cast<size_t>(mode) < MODE_COUNT;
}

// Any mode that is not one of ours discards.
const mode_request &request_for(operation_mode mode)
{
	return MODE_REQUESTS[known_mode(mode) ? mode : MODE_DISCARD];
}

device_geometry probe_device(int fd, const char *path)
{
	device_geometry geometry{};
	if (ioctl(fd, BLKGETSIZE64, &geometry.size) != 0)
		err(1, _("%s: BLKGETSIZE64 ioctl failed"), path);
	if (ioctl(fd, BLKSSZGET, &geometry.sector_size) != 0)
		err(1, _("%s: BLKSSZGET ioctl failed"), path);
	// The kernel never reports such a size, but every check below divides
	// by it.
	if (geometry.sector_size <= 0)
		errx(1, _("%s: invalid sector size %i"), path, geometry.sector_size);
	return geometry;
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

} // namespace

void report_progress(operation_mode mode, const char *path, const progress_tally *tally)
{
	if (!known_mode(mode))
		return;
	printf(_(MODE_REQUESTS[mode].report), path,
	       static_cast<unsigned long long>(tally->bytes_done),
	       static_cast<unsigned long long>(tally->from_offset));
	// A log behind a pipe must show how far the work got even if the run
	// is killed: one write per line, at most one line a second. A failed
	// write stays on the stream for the exit-time check.
	fflush(stdout);
}

void run_device_range(const char *path, const tool_options *options)
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
	int fd = open(path, O_WRONLY);
	if (fd < 0)
		err(1, _("cannot open %s"), path);
	fd = keep_off_standard_streams(fd, path);
	if (fstat(fd, &st) != 0)
		err(1, _("stat of %s failed"), path);
	if (!S_ISBLK(st.st_mode))
		errx(1, _("%s: not a block device"), path);

	const device_geometry geometry = probe_device(fd, path);
	const auto sector = static_cast<uint64_t>(geometry.sector_size);

	const uint64_t offset = options->offset;
	if (offset % sector != 0)
		errx(1, _("%s: offset %llu is not aligned to sector size %i"), path,
		     static_cast<unsigned long long>(offset), geometry.sector_size);
	if (offset > geometry.size)
		errx(1, _("%s: offset is greater than device size"), path);

	// A length past the device end, or one that wraps past 2^64, means
	// "up to the end".
	uint64_t end = offset + options->length;
	if (end < offset || end > geometry.size)
		end = geometry.size;

	const uint64_t chunk = options->step ? options->step : end - offset;
	if (chunk % sector != 0)
		errx(1, _("%s: length %llu is not aligned to sector size %i"), path,
		     static_cast<unsigned long long>(chunk), geometry.sector_size);

	const mode_request &op = request_for(options->mode);
	progress_tally tally = {offset, 0};
	byte_range range = {offset, chunk};
	// An unreadable clock leaves the readings at zero; the walk goes on.
	struct timeval last = {};
	monotonic_timestamp(&last);
	// A single request has nothing to pace: only the final line reports it.
	const bool paced = options->verbose && options->step != 0;
	while (range.start < end) {
		if (range.length > end - range.start)
			range.length = end - range.start;
		if (ioctl(fd, op.request, &range) != 0)
			err(1, _(op.failure), path);
		tally.bytes_done += range.length;
		if (paced) {
			struct timeval now = {};
			monotonic_timestamp(&now);
			if (progress_due(&last, &now)) {
				report_progress(options->mode, path, &tally);
				tally.from_offset += tally.bytes_done;
				tally.bytes_done = 0;
				last = now;
			}
		}
		range.start += range.length;
	}

	if (options->verbose && tally.bytes_done != 0)
		report_progress(options->mode, path, &tally);
	close(fd);
}
