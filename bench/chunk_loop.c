// SPDX-License-Identifier: GPL-2.0-or-later
/*
 * The least a program can do to hand a block device's range to the kernel
 * chunk by chunk: open with the exclusive claim the tool takes, read the
 * size, one request per chunk, close. It is the yardstick the tool's own walk
 * is measured against, so it does nothing more; with "clock" it also reads
 * the raw monotonic clock after every chunk, as a walk that paces progress
 * lines must.
 *
 * usage: chunk_loop DEVICE STEP discard|zeroout|secure [clock]
 */
#include <err.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

static const struct {
	const char *name;
	unsigned long request;
} REQUESTS[] = {
	{"discard", BLKDISCARD},
	{"zeroout", BLKZEROOUT},
	{"secure", BLKSECDISCARD},
};

int main(int argc, char **argv)
{
	if (argc < 4 || argc > 5)
		errx(2, "usage: chunk_loop DEVICE STEP discard|zeroout|secure [clock]");
	unsigned long request = 0;
	for (size_t i = 0; i < sizeof REQUESTS / sizeof REQUESTS[0]; i++)
		if (strcmp(argv[3], REQUESTS[i].name) == 0)
			request = REQUESTS[i].request;
	if (!request)
		errx(2, "unknown request %s", argv[3]);
	const uint64_t step = strtoull(argv[2], NULL, 0);
	if (step == 0)
		errx(2, "the step must not be 0");
	const int paced = argc == 5 && strcmp(argv[4], "clock") == 0;

	int fd = open(argv[1], O_WRONLY | O_EXCL);
	if (fd < 0)
		err(1, "%s", argv[1]);
	uint64_t size;
	if (ioctl(fd, BLKGETSIZE64, &size) != 0)
		err(1, "%s: BLKGETSIZE64", argv[1]);

	uint64_t range[2] = {0, step};
	struct timespec now;
	while (range[0] < size) {
		if (range[1] > size - range[0])
			range[1] = size - range[0];
		if (ioctl(fd, request, range) != 0)
			err(1, "%s: request failed", argv[1]);
		if (paced)
			clock_gettime(CLOCK_MONOTONIC_RAW, &now);
		range[0] += range[1];
	}
	close(fd);
	return 0;
}
