// SPDX-License-Identifier: GPL-2.0-or-later
// Loop devices for tests: attach over an unlinked temporary file, fill with
// a pattern, read back with O_DIRECT, detach.
#include "device.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <linux/loop.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>

namespace {

constexpr char LOOP_CONTROL[] = "/dev/loop-control";
// Transfers go in pieces of this size, a multiple of every sector size.
constexpr uint64_t IO_CHUNK = 1 << 20;
constexpr size_t IO_ALIGN = 4096;
// Another process (or our own previous device, still being torn down) may
// take the free device between asking for it and configuring it.
constexpr int ATTACH_TRIES = 50;

struct free_deleter {
	void operator()(void *p) const { free(p); }
};
using io_buffer = std::unique_ptr<uint8_t[], free_deleter>;

io_buffer aligned_buffer()
{
	return io_buffer(static_cast<uint8_t *>(aligned_alloc(IO_ALIGN, IO_CHUNK)));
}

::testing::AssertionResult system_failure(const std::string &what)
{
	return ::testing::AssertionFailure() << what << ": " << strerror(errno);
}

void pause_briefly()
{
	const timespec pause = {0, 20 * 1000000};
	nanosleep(&pause, nullptr);
}

// Bind a free loop device to backing_fd, with autoclear and the given
// flags; its descriptor, or -1.
int bind_free_device(int backing_fd, int sector_size, uint32_t flags, std::string *path,
		     std::string *why)
{
	int control = open(LOOP_CONTROL, O_RDWR | O_CLOEXEC);
	if (control < 0) {
		*why = std::string("open ") + LOOP_CONTROL + ": " + strerror(errno);
		return -1;
	}
	int fd = -1;
	for (int tries = 0; fd < 0 && tries < ATTACH_TRIES; tries++) {
		int index = ioctl(control, LOOP_CTL_GET_FREE);
		if (index < 0) {
			*why = std::string("LOOP_CTL_GET_FREE: ") + strerror(errno);
			break;
		}
		*path = "/dev/loop" + std::to_string(index);
		fd = open(path->c_str(), O_RDWR | O_DIRECT | O_CLOEXEC);
		if (fd < 0) {
			*why = "open " + *path + ": " + strerror(errno);
			pause_briefly();
			continue;
		}
		loop_config config;
		memset(&config, 0, sizeof config);
		config.fd = static_cast<uint32_t>(backing_fd);
		config.block_size = static_cast<uint32_t>(sector_size);
		config.info.lo_flags = LO_FLAGS_AUTOCLEAR | flags;
		if (ioctl(fd, LOOP_CONFIGURE, &config) != 0) {
			*why = "LOOP_CONFIGURE " + *path + ": " + strerror(errno);
			close(fd);
			fd = -1;
			if (errno != EBUSY)
				break;
			pause_briefly();
		}
	}
	close(control);
	return fd;
}

// The pattern from offset 0, computed once and grown on demand: byte by
// byte it would dominate the run time of sanitizer builds.
const std::vector<uint8_t> &pattern_prefix(uint64_t size)
{
	static std::vector<uint8_t> pattern;
	for (uint64_t i = pattern.size(); i < size; i++)
		pattern.push_back(pattern_byte(i));
	return pattern;
}

} // namespace

void loop_device::detach()
{
	if (fd < 0)
		return;
	ioctl(fd, LOOP_CLR_FD, 0);
	close(fd);
	fd = -1;
	path.clear();
}

bool devices_required()
{
	const char *required = getenv("HOSTKIT_REQUIRE_DEVICES");
	return required && strcmp(required, "1") == 0;
}

std::string loop_devices_unavailable()
{
	if (geteuid() != 0)
		return "not running as root";
	if (access(LOOP_CONTROL, F_OK) != 0)
		return std::string(LOOP_CONTROL) + " is missing";
	return "";
}

::testing::AssertionResult attach_loop_device(loop_device *dev, uint64_t size, int sector_size)
{
	if (dev->fd >= 0)
		return ::testing::AssertionFailure() << "device already attached: " << dev->path;
	const char *dir = getenv("TMPDIR");
	std::string backing = std::string(dir && *dir ? dir : "/tmp") + "/hostkit-loop.XXXXXX";
	int backing_fd = mkstemp(backing.data());
	if (backing_fd < 0)
		return system_failure("mkstemp " + backing);
	// The device keeps the file; with the name gone nothing is left behind.
	unlink(backing.c_str());
	if (ftruncate(backing_fd, static_cast<off_t>(size)) != 0) {
		close(backing_fd);
		return system_failure("ftruncate " + backing);
	}
	std::string path, why;
	int fd = bind_free_device(backing_fd, sector_size, 0, &path, &why);
	close(backing_fd);
	if (fd < 0)
		return ::testing::AssertionFailure() << "cannot attach a loop device: " << why;
	dev->path = path;
	dev->fd = fd;

	uint64_t got_size = 0;
	int got_sector = 0;
	if (ioctl(fd, BLKGETSIZE64, &got_size) != 0 || ioctl(fd, BLKSSZGET, &got_sector) != 0)
		return system_failure("geometry of " + path);
	if (got_size != size || got_sector != sector_size)
		return ::testing::AssertionFailure()
		       << path << " came out with size " << got_size << " and sector size "
		       << got_sector << ", asked for " << size << " and " << sector_size;
	dev->size = size;
	dev->sector_size = sector_size;
	return ::testing::AssertionSuccess();
}

::testing::AssertionResult attach_read_only_view(const loop_device &under, loop_device *view)
{
	if (view->fd >= 0)
		return ::testing::AssertionFailure() << "device already attached: " << view->path;
	std::string path, why;
	// Opened before it turns read-only, so held like any other device.
	int fd = bind_free_device(under.fd, under.sector_size, LO_FLAGS_READ_ONLY, &path, &why);
	if (fd < 0)
		return ::testing::AssertionFailure() << "cannot attach a read-only view: " << why;
	view->path = path;
	view->fd = fd;
	view->size = under.size;
	view->sector_size = under.sector_size;
	return ::testing::AssertionSuccess();
}

uint8_t pattern_byte(uint64_t offset)
{
	return static_cast<uint8_t>((offset / 512 * 131 + offset * 7) % 255 + 1);
}

::testing::AssertionResult fill_pattern(const loop_device &dev)
{
	const std::vector<uint8_t> &pattern = pattern_prefix(dev.size);
	io_buffer buf = aligned_buffer();
	for (uint64_t at = 0; at < dev.size; at += IO_CHUNK) {
		const uint64_t n = std::min(IO_CHUNK, dev.size - at);
		memcpy(buf.get(), pattern.data() + at, n);
		if (pwrite(dev.fd, buf.get(), n, static_cast<off_t>(at)) != static_cast<ssize_t>(n))
			return system_failure("write " + dev.path + " at " + std::to_string(at));
	}
	if (fsync(dev.fd) != 0)
		return system_failure("fsync " + dev.path);
	return ::testing::AssertionSuccess();
}

::testing::AssertionResult read_range(const loop_device &dev, uint64_t offset, uint64_t length,
				      std::vector<uint8_t> *data)
{
	data->clear();
	io_buffer buf = aligned_buffer();
	for (uint64_t done = 0; done < length;) {
		const uint64_t n = std::min(IO_CHUNK, length - done);
		const off_t at = static_cast<off_t>(offset + done);
		if (pread(dev.fd, buf.get(), n, at) != static_cast<ssize_t>(n))
			return system_failure("read " + dev.path + " at " + std::to_string(at));
		data->insert(data->end(), buf.get(), buf.get() + n);
		done += n;
	}
	return ::testing::AssertionSuccess();
}

::testing::AssertionResult check_contents(const loop_device &dev, uint64_t zero_start,
					  uint64_t zero_length, bool any_inside)
{
	std::vector<uint8_t> data;
	if (::testing::AssertionResult r = read_range(dev, 0, dev.size, &data); !r)
		return r;
	const std::vector<uint8_t> &pattern = pattern_prefix(dev.size);
	const uint64_t zero_end =
		zero_start + std::min(zero_length, dev.size - std::min(zero_start, dev.size));
	uint64_t wrong = 0, first = 0;
	for (uint64_t i = dev.size; i-- > 0;) {
		const bool inside = i >= zero_start && i < zero_end;
		if ((!inside || !any_inside) && data[i] != (inside ? 0 : pattern[i])) {
			wrong++;
			first = i;
		}
	}
	if (!wrong)
		return ::testing::AssertionSuccess();
	const int expected = first >= zero_start && first < zero_end ? 0 : pattern[first];
	return ::testing::AssertionFailure()
	       << dev.path << " (" << (any_inside ? "anything" : "zeros") << " expected in ["
	       << zero_start << ", " << zero_end << ")): " << wrong << " bytes wrong, the first at "
	       << first << ": expected " << expected << ", found " << int{data[first]};
}
