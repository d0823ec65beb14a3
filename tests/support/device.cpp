// SPDX-License-Identifier: GPL-2.0-or-later
// Loop devices for tests: attach over an unlinked temporary file, fill with
// a pattern, read back with O_DIRECT, detach.
#include "device.h"
#include "runner.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <linux/loop.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <utility>
#include <vector>

namespace {

constexpr char LOOP_CONTROL[] = "/dev/loop-control";
// Another process, or our own device still being torn down, may take the
// free device between asking for it and configuring it.
constexpr int ATTACH_TRIES = 50;

::testing::AssertionResult system_failure(const std::string &what)
{
	return ::testing::AssertionFailure() << what << ": " << strerror(errno);
}

// Bind a free loop device to backing_fd with autoclear and flags; its fd or -1.
int bind_free_device(int backing_fd, int sector_size, uint32_t flags, std::string *path,
		     std::string *why)
{
	const int control = open(LOOP_CONTROL, O_RDWR | O_CLOEXEC);
	if (control < 0)
		*why = std::string("open ") + LOOP_CONTROL + ": " + strerror(errno);
	int fd = -1;
	const timespec pause = {0, 20 * 1000000};
	for (int tries = 0; control >= 0 && fd < 0 && tries < ATTACH_TRIES; tries++) {
		int index = ioctl(control, LOOP_CTL_GET_FREE);
		if (index < 0) {
			*why = std::string("LOOP_CTL_GET_FREE: ") + strerror(errno);
			break;
		}
		*path = "/dev/loop" + std::to_string(index);
		loop_config config = {};
		config.fd = static_cast<uint32_t>(backing_fd);
		config.block_size = static_cast<uint32_t>(sector_size);
		config.info.lo_flags = LO_FLAGS_AUTOCLEAR | flags;
		if ((fd = open(path->c_str(), O_RDWR | O_DIRECT | O_CLOEXEC)) < 0) {
			*why = "open " + *path + ": " + strerror(errno);
		} else if (ioctl(fd, LOOP_CONFIGURE, &config) != 0) {
			*why = "LOOP_CONFIGURE " + *path + ": " + strerror(errno);
			close(std::exchange(fd, -1));
			if (errno != EBUSY)
				break;
		}
		if (fd < 0)
			nanosleep(&pause, nullptr);
	}
	close(control);
	return fd;
}

// The pattern, computed once and grown on demand: byte by byte it would
// dominate the run time of sanitizer builds.
const std::vector<uint8_t> &pattern_prefix(uint64_t size)
{
	static std::vector<uint8_t> pattern;
	for (uint64_t i = pattern.size(); i < size; i++)
		pattern.push_back(static_cast<uint8_t>((i / 512 * 131 + i * 7) % 255 + 1));
	return pattern;
}

// A buffer for O_DIRECT transfers of the whole device, small on any target.
std::unique_ptr<uint8_t[], void (*)(void *)> device_buffer(const loop_device &dev)
{
	return {static_cast<uint8_t *>(
			aligned_alloc(4096, static_cast<size_t>(dev.size + 4095) / 4096 * 4096)),
		free};
}

// The whole disk as the fixture's device, held like a loop device.
::testing::AssertionResult open_disk(loop_device *dev, const char *path)
{
	dev->path = path;
	if ((dev->fd = open(path, O_RDWR | O_DIRECT | O_CLOEXEC)) < 0)
		return system_failure(dev->path);
	dev->disk = true;
	if (ioctl(dev->fd, BLKGETSIZE64, &dev->size) != 0 ||
	    ioctl(dev->fd, BLKSSZGET, &dev->sector_size) != 0)
		return system_failure("geometry of " + dev->path);
	return ::testing::AssertionSuccess();
}

} // namespace

void loop_device::detach()
{
	if (fd < 0)
		return;
	if (!std::exchange(disk, false))
		ioctl(fd, LOOP_CLR_FD, 0);
	close(std::exchange(fd, -1));
	path.clear();
}

void DeviceTest::SetUp()
{
	const char *required = getenv("HOSTKIT_REQUIRE_DEVICES");
	const std::string why_not = geteuid() != 0 ? "not running as root"
				    : access(LOOP_CONTROL, F_OK) != 0
					    ? std::string(LOOP_CONTROL) + " is missing"
					    : "";
	const char *disk = getenv("HOSTKIT_TEST_DISK");
	if (disk && *disk)
		ASSERT_TRUE(open_disk(&dev, disk));
	else if (why_not.empty())
		ASSERT_TRUE(attach_loop_device(&dev, 1 << 20, 512));
	else if (required && std::string(required) == "1")
		FAIL() << "no loop device under HOSTKIT_REQUIRE_DEVICES=1: " << why_not;
	else
		GTEST_SKIP() << "*** DEVICE TEST NOT RUN: " << why_not << " ***";
}

::testing::AssertionResult attach_loop_device(loop_device *dev, uint64_t size, int sector_size,
					      const loop_device *under)
{
	if (dev->fd >= 0)
		return ::testing::AssertionFailure() << "device already attached: " << dev->path;
	int backing_fd = under ? dup(under->fd) : -1;
	if (!under) {
		// The device keeps the file; its name goes with the record.
		temp_file backing;
		backing_fd = open(backing.path.c_str(), O_RDWR | O_CLOEXEC);
		if (backing_fd < 0 || ftruncate(backing_fd, static_cast<off_t>(size)) != 0) {
			const auto failure = system_failure("backing file '" + backing.path + "'");
			close(backing_fd);
			return failure;
		}
	}
	std::string why;
	// A read-only view is opened before it turns read-only.
	dev->fd = bind_free_device(backing_fd, sector_size, under ? LO_FLAGS_READ_ONLY : 0,
				   &dev->path, &why);
	close(backing_fd);
	if (dev->fd < 0)
		return ::testing::AssertionFailure() << "cannot attach a loop device: " << why;
	uint64_t got_size = 0;
	int got_sector = 0;
	if (ioctl(dev->fd, BLKGETSIZE64, &got_size) != 0 ||
	    ioctl(dev->fd, BLKSSZGET, &got_sector) != 0)
		return system_failure("geometry of " + dev->path);
	if (got_size != size || got_sector != sector_size)
		return ::testing::AssertionFailure()
		       << dev->path << " came out with size " << got_size << " and sector size "
		       << got_sector << ", asked for " << size << " and " << sector_size;
	dev->size = size;
	dev->sector_size = sector_size;
	return ::testing::AssertionSuccess();
}

::testing::AssertionResult fill_pattern(const loop_device &dev)
{
	auto buf = device_buffer(dev);
	const auto size = static_cast<size_t>(dev.size);
	memcpy(buf.get(), pattern_prefix(size).data(), size);
	if (pwrite(dev.fd, buf.get(), size, 0) != static_cast<ssize_t>(size))
		return system_failure("write " + dev.path);
	if (fsync(dev.fd) != 0)
		return system_failure("fsync " + dev.path);
	return ::testing::AssertionSuccess();
}

::testing::AssertionResult check_contents(const loop_device &dev, uint64_t zero_start,
					  uint64_t zero_length, bool any_inside)
{
	auto data = device_buffer(dev);
	const auto size = static_cast<size_t>(dev.size);
	if (pread(dev.fd, data.get(), size, 0) != static_cast<ssize_t>(size))
		return system_failure("read " + dev.path);
	const std::vector<uint8_t> &pattern = pattern_prefix(size);
	const uint64_t zero_end =
		zero_start + std::min(zero_length, dev.size - std::min(zero_start, dev.size));
	size_t wrong = 0, first = 0;
	for (size_t i = size; i-- > 0;) {
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

::testing::AssertionResult check_contents(const loop_device &dev, std::vector<device_span> spans)
{
	auto data = device_buffer(dev);
	const auto size = static_cast<size_t>(dev.size);
	if (pread(dev.fd, data.get(), size, 0) != static_cast<ssize_t>(size))
		return system_failure("read " + dev.path);
	const std::vector<uint8_t> &pattern = pattern_prefix(size);
	std::ranges::sort(spans, {}, &device_span::start);
	// The pattern up to each span, the span, and after the last span the
	// pattern up to the end.
	spans.push_back({dev.size, 0});
	size_t at = 0, wrong = 0, first = 0;
	int expected = 0;
	std::string said;
	for (const device_span &s : spans) {
		const uint64_t from = std::min(s.start, dev.size);
		const auto start = static_cast<size_t>(from),
			   end = static_cast<size_t>(from + std::min(s.length, dev.size - from));
		for (; at < end; at++) {
			if (at >= start && s.any_inside)
				continue;
			const int want = at >= start ? 0 : pattern[at];
			if (data[at] != want && !wrong++) {
				first = at;
				expected = want;
			}
		}
		if (end > start)
			said += (s.any_inside ? "anything in [" : "zeros in [") +
				std::to_string(start) + ", " + std::to_string(end) + "), ";
	}
	if (!wrong)
		return ::testing::AssertionSuccess();
	return ::testing::AssertionFailure()
	       << dev.path << " (" << said << "the pattern elsewhere): " << wrong
	       << " bytes wrong, the first at " << first << ": expected " << expected << ", found "
	       << int{data[first]};
}
