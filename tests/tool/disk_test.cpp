// SPDX-License-Identifier: GPL-2.0-or-later
// The runs of the driver check, on a whole disk (a virtual machine's, given
// by HOSTKIT_TEST_DISK) or on loop devices of both sector sizes: the pattern
// once, then run after run over disjoint ranges, the whole disk read back
// after each. Each run prints a line for the drivers' table, "disk-run ok
// NAME: ..." or "disk-run FAIL NAME: ...": what a discard left, what was
// refused.
#include "device.h"
#include "runner.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr uint64_t MiB = 1 << 20, DISK_SIZE = 16 * MiB;

using Disk = DeviceTest;

// What a run must leave in its range: zeros; anything, if the queue
// discards at all, else the range kept and the kernel's refusal passed on;
// the range kept and the refusal, since no driver here securely discards.
enum run_effect { ZEROED, DISCARDED, SECURELY_DISCARDED };

struct disk_run {
	std::string name, options;
	uint64_t at, length; // the range as it must be clamped
	run_effect effect;
	std::string out = "";
};

// Each range starts three sectors past a MiB and ends five past one, so
// that no granule larger than a sector lines up with either end.
std::vector<disk_run> plan(uint64_t u, uint64_t end)
{
	const auto range = [](uint64_t at, uint64_t length) {
		return "-o " + std::to_string(at) + " -l " + std::to_string(length);
	};
	const uint64_t in = 3 * u, one = MiB + 2 * u, two = 2 * MiB + 2 * u;
	return {
		{"discard", range(MiB + in, one), MiB + in, one, DISCARDED},
		{"zero-out", "-z " + range(3 * MiB + in, one), 3 * MiB + in, one, ZEROED},
		{"secure-discard", "-s " + range(5 * MiB + in, one), 5 * MiB + in, one,
		 SECURELY_DISCARDED},
		// Four steps of 512 KiB, then a last request of two sectors.
		{"stepped-discard", range(7 * MiB + in, two) + " -p 512K", 7 * MiB + in, two,
		 DISCARDED},
		{"verbose-stepped-zero-out", "-v -z " + range(10 * MiB + in, two) + " -p 512K",
		 10 * MiB + in, two, ZEROED,
		 "DEV: Zero-filled " + std::to_string(two) + " bytes from the offset " +
			 std::to_string(10 * MiB + in) + "\n"},
		// Asked for 2 MiB, 1 MiB short of three sectors before the end.
		{"clamped-zero-out", "-z -o " + std::to_string(end - MiB + in) + " -l 2M -p 256K",
		 end - MiB + in, MiB - in, ZEROED},
	};
}

// The kernel's word on whether the device discards: its queue's limit, a
// partition's being its disk's.
uint64_t discard_max_bytes(const loop_device &dev)
{
	struct stat st;
	if (stat(dev.path.c_str(), &st) != 0)
		return 0;
	const std::string sys = "/sys/dev/block/" + std::to_string(major(st.st_rdev)) + ":" +
				std::to_string(minor(st.st_rdev));
	std::string text = file_text(sys + "/queue/discard_max_bytes");
	if (text.empty())
		text = file_text(sys + "/../queue/discard_max_bytes");
	EXPECT_FALSE(text.empty()) << "no discard limit for " << dev.path << " under " << sys;
	return strtoull(text.c_str(), nullptr, 10);
}

int failures_so_far()
{
	const ::testing::TestResult *result =
		::testing::UnitTest::GetInstance()->current_test_info()->result();
	int failures = 0;
	for (int i = 0; i < result->total_part_count(); i++)
		failures += result->GetTestPartResult(i).failed();
	return failures;
}

// What a disk holds, whole, through its O_DIRECT descriptor.
std::vector<uint8_t> contents(const loop_device &dev)
{
	std::unique_ptr<uint8_t[], void (*)(void *)> buf(
		static_cast<uint8_t *>(
			aligned_alloc(4096, static_cast<size_t>(dev.size + 4095) / 4096 * 4096)),
		free);
	const auto size = static_cast<ssize_t>(dev.size);
	EXPECT_EQ(pread(dev.fd, buf.get(), static_cast<size_t>(size), 0), size) << dev.path;
	return {buf.get(), buf.get() + size};
}

// A disk beneath the one worked on, from HOSTKIT_TEST_UNDER's list of
// "PATH@OFFSET" (the device's bytes lie there as they are: a partition,
// dm-linear, a RAID 1 leg) and "PATH@OFFSET*" (transformed there: dm-crypt),
// so that only bytes under a range a run changed may change; and
// "PATH@OFFSET%SLOT/MEMBERS/CHUNK", member SLOT of a RAID 5 of MEMBERS in
// chunks of CHUNK bytes laid out left-symmetric, md's default: its data
// chunks the device's bytes, its parity chunks their exclusive or.
// "~START+LENGTH" after any is a span outside the device that its stack may
// rewrite (md's superblock).
struct leg {
	loop_device disk;
	uint64_t offset;
	bool transformed;
	uint64_t slot = 0, members = 0, chunk = 0;
	uint64_t own_start = 0, own_length = 0;
	std::vector<uint8_t> before;
};

// What byte at of a RAID 5 member's data area must hold, given the
// device's bytes; -1 past the stripes.
int raid5_byte(const leg &l, const std::vector<uint8_t> &top, uint64_t at)
{
	const uint64_t data = l.members - 1, stripe = at / l.chunk, within = at % l.chunk;
	const uint64_t base = stripe * data * l.chunk;
	if (base + data * l.chunk > top.size())
		return -1;
	const uint64_t parity = data - stripe % l.members;
	if (l.slot != parity)
		return top[static_cast<size_t>(
			base + (l.slot + l.members - parity - 1) % l.members * l.chunk + within)];
	int sum = 0;
	for (uint64_t k = 0; k < data; k++)
		sum ^= top[static_cast<size_t>(base + k * l.chunk + within)];
	return sum;
}

void open_legs(std::vector<std::unique_ptr<leg>> *legs)
{
	const char *list = getenv("HOSTKIT_TEST_UNDER");
	for (const std::string &word : words(list ? list : "")) {
		auto l = std::make_unique<leg>();
		const size_t at = word.rfind('@');
		ASSERT_NE(at, std::string::npos) << word;
		l->disk.path = word.substr(0, at);
		char *end;
		l->offset = strtoull(word.c_str() + at + 1, &end, 10);
		l->transformed = *end == '*';
		if (*end == '%') {
			l->slot = strtoull(end + 1, &end, 10);
			l->members = strtoull(end + 1, &end, 10);
			l->chunk = strtoull(end + 1, &end, 10);
			ASSERT_TRUE(l->members >= 3 && l->chunk > 0 && l->slot < l->members)
				<< word;
		}
		if (const char *own = strchr(end, '~')) {
			l->own_start = strtoull(own + 1, &end, 10);
			l->own_length = strtoull(end, nullptr, 10);
		}
		l->disk.fd = open(l->disk.path.c_str(), O_RDONLY | O_DIRECT | O_CLOEXEC);
		ASSERT_GE(l->disk.fd, 0) << l->disk.path << ": " << strerror(errno);
		l->disk.disk = true;
		ASSERT_EQ(ioctl(l->disk.fd, BLKGETSIZE64, &l->disk.size), 0) << strerror(errno);
		legs->push_back(std::move(l));
	}
}

// The leg as the runs so far must leave it, given what the device must
// hold: the leg's own judgement, so that a fault shows on it too.
::testing::AssertionResult leg_holds(const leg &l, const std::vector<uint8_t> &top,
				     const std::vector<device_span> &changed)
{
	const std::vector<uint8_t> now = contents(l.disk);
	const auto under_a_run = [&](uint64_t i) {
		return std::ranges::any_of(changed, [&](const device_span &s) {
			return i - l.offset >= s.start && i - l.offset - s.start < s.length;
		});
	};
	size_t wrong = 0, first = 0;
	for (size_t i = 0; i < now.size(); i++) {
		const int raid5 =
			l.members && i >= l.offset ? raid5_byte(l, top, i - l.offset) : -1;
		const bool mapped =
			l.members ? raid5 >= 0 : i >= l.offset && i - l.offset < top.size();
		const bool own = i >= l.own_start && i - l.own_start < l.own_length;
		const bool ok = !mapped          ? now[i] == l.before[i] || own
				: l.members      ? now[i] == raid5
				: !l.transformed ? now[i] == top[static_cast<size_t>(i - l.offset)]
						 : now[i] == l.before[i] || under_a_run(i);
		if (!ok && !wrong++)
			first = i;
	}
	if (!wrong)
		return ::testing::AssertionSuccess();
	return ::testing::AssertionFailure()
	       << l.disk.path << " beneath, the device at " << l.offset << ": " << wrong
	       << " bytes wrong, the first at " << first;
}

// What a discarded range reads back as, for the table. Where only part
// reads zeros, the largest power of two that each edge of a zeroed stretch
// inside the range is a multiple of: the unit the stack frees whole (its
// ranges start three sectors past a MiB, so a unit under a MiB starts the
// first stretch).
std::string read_back(const std::vector<uint8_t> &before, const std::vector<uint8_t> &now,
		      const disk_run &r)
{
	bool zeros = true, old = true, either = true;
	uint64_t unit = MiB;
	const auto from = static_cast<size_t>(r.at), to = static_cast<size_t>(r.at + r.length);
	for (size_t i = from; i < to; i++) {
		zeros = zeros && now[i] == 0;
		old = old && now[i] == before[i];
		either = either && (now[i] == 0 || now[i] == before[i]);
		if (i > from && (now[i] == 0) != (now[i - 1] == 0))
			unit = std::min<uint64_t>(unit, i & -i);
	}
	if (zeros)
		return "zeros";
	if (old)
		return "the old data";
	if (!either)
		return "other data";
	return "zeros in part, in whole units of " +
	       (unit < 1024 ? std::to_string(unit) + " B" : std::to_string(unit / 1024) + " KiB");
}

// Every run of the plan on dev, each checked over the whole device against
// all the runs before it, and on every disk beneath; what they changed in
// *changed.
void run_plan(const loop_device &dev, const std::string &note, std::vector<device_span> *changed)
{
	const bool discards = discard_max_bytes(dev) > 0;
	std::vector<std::unique_ptr<leg>> legs;
	if (dev.disk)
		open_legs(&legs);
	ASSERT_FALSE(::testing::Test::HasFailure());
	ASSERT_TRUE(fill_pattern(dev)) << note;
	std::vector<uint8_t> top = contents(dev);
	const std::vector<uint8_t> filled = top;
	for (auto &l : legs)
		l->before = contents(l->disk);
	for (const disk_run &r : plan(static_cast<uint64_t>(dev.sector_size), dev.size)) {
		const int failures = failures_so_far();
		const bool refused =
			r.effect == SECURELY_DISCARDED || (r.effect == DISCARDED && !discards);
		const std::string request =
			r.effect == SECURELY_DISCARDED ? "BLKSECDISCARD" : "BLKDISCARD";
		expect_run({.args = r.options + " DEV",
			    .status = refused ? 1 : 0,
			    .out = refused ? "" : r.out,
			    .err = refused ? "sectrim: DEV: " + request +
						     " ioctl failed: Operation not supported\n"
					   : ""},
			   &dev, false, note);
		std::vector<uint8_t> now = contents(dev);
		std::string detail = "the rest kept, ";
		if (refused) {
			detail += "refused: not supported";
		} else if (r.effect == ZEROED) {
			changed->push_back({r.at, r.length});
			detail += "zeros inside";
		} else {
			changed->push_back({r.at, r.length, true});
			detail += "reads back " + read_back(top, now, r);
		}
		EXPECT_TRUE(check_contents(dev, *changed)) << r.name << " (" << note << ")";
		// What the device must hold: the pattern, zeros, and what a
		// discard left.
		std::vector<uint8_t> expected = filled;
		for (const device_span &s : *changed)
			for (auto i = static_cast<size_t>(s.start); i < s.start + s.length; i++)
				expected[i] = s.any_inside ? now[i] : 0;
		for (const auto &l : legs)
			EXPECT_TRUE(leg_holds(*l, expected, *changed))
				<< r.name << " (" << note << ")";
		top = std::move(now);
		const bool failed = failures_so_far() > failures;
		printf("disk-run %s %s: [%llu, %llu): %s\n", failed ? "FAIL" : "ok", r.name.c_str(),
		       static_cast<unsigned long long>(r.at),
		       static_cast<unsigned long long>(r.at + r.length),
		       failed ? "failed, as the test says above" : detail.c_str());
		fflush(stdout);
	}
}

// Byte at of dev set to value through its O_DIRECT descriptor, a sector at
// a time; the byte it held.
uint8_t poke(const loop_device &dev, uint64_t at, uint8_t value)
{
	const auto sector = static_cast<size_t>(dev.sector_size);
	const auto start = static_cast<off_t>(at / sector * sector);
	std::unique_ptr<uint8_t[], void (*)(void *)> buf(
		static_cast<uint8_t *>(aligned_alloc(4096, (sector + 4095) / 4096 * 4096)), free);
	EXPECT_EQ(pread(dev.fd, buf.get(), sector, start), static_cast<ssize_t>(sector));
	const uint8_t old = std::exchange(buf[static_cast<size_t>(at % sector)], value);
	EXPECT_EQ(pwrite(dev.fd, buf.get(), sector, start), static_cast<ssize_t>(sector));
	return old;
}

// The read-back names one byte out of place at either edge of every range
// the plan changed and of the disk, so that a run one sector too long or
// too short cannot pass.
void expect_edges_caught(const loop_device &dev, const std::vector<device_span> &changed)
{
	std::vector<uint64_t> edges = {0, dev.size - 1};
	for (const device_span &s : changed)
		edges.insert(edges.end(),
			     {s.start - 1, s.start, s.start + s.length - 1, s.start + s.length});
	for (uint64_t at : edges) {
		const auto in = std::ranges::find_if(changed, [at](const device_span &s) {
			return at >= s.start && at - s.start < s.length;
		});
		if (at >= dev.size || (in != changed.end() && in->any_inside))
			continue;
		// The pattern never holds a zero byte.
		const uint8_t old = poke(dev, at, in != changed.end() ? 1 : 0);
		const ::testing::AssertionResult found = check_contents(dev, changed);
		EXPECT_FALSE(found) << "byte " << at << " of " << dev.path;
		EXPECT_NE(std::string(found.message())
				  .find("the first at " + std::to_string(at) + ":"),
			  std::string::npos)
			<< found.message();
		poke(dev, at, old);
	}
}

TEST_F(Disk, EveryRunChangesItsRangeAlone)
{
	std::vector<device_span> changed;
	if (dev.disk) {
		run_plan(dev, dev.path, &changed);
		return;
	}
	for (int sector : {512, 4096}) {
		ASSERT_TRUE(attach(DISK_SIZE, sector));
		changed.clear();
		run_plan(dev, "sector size " + std::to_string(sector), &changed);
		// A wrong disk would hide whether its edges are caught.
		if (!HasFailure())
			expect_edges_caught(dev, changed);
		EXPECT_TRUE(check_contents(dev, changed));
	}
}

// A disk that something holds (a virtual machine's, mounted or stacked on
// by its caller; a loop device, by the test's own exclusive open) is
// refused in every mode before any request, and not a byte changes, on it
// or on the disks HOSTKIT_TEST_UNDER names beneath it; forced,
// the run reaches it: its last sector, which none of those holders uses.
TEST_F(Disk, HeldDiskIsRefused)
{
	int holder = -1;
	if (!dev.disk) {
		ASSERT_TRUE(attach(DISK_SIZE, 4096));
		ASSERT_TRUE(fill_pattern(dev));
		holder = open(dev.path.c_str(), O_RDONLY | O_EXCL | O_CLOEXEC);
		ASSERT_GE(holder, 0) << dev.path << ": " << strerror(errno);
	}
	const std::string refused =
		"sectrim: DEV: the device is in use: a mounted file system, active swap, a "
		"device-mapper, md, LVM or bcache device on it, or another exclusive opener "
		"holds it; use --force to work on it anyway\n";
	std::vector<std::unique_ptr<leg>> legs;
	if (dev.disk)
		open_legs(&legs);
	ASSERT_FALSE(HasFailure());
	for (auto &l : legs)
		l->before = contents(l->disk);
	std::vector<uint8_t> before = contents(dev);
	for (const char *args : {"-z DEV", "-v DEV", "-s DEV", "-z -v -o 1M -l 1M -p 256K DEV"})
		expect_run({.args = args, .status = 1, .err = refused}, &dev);
	EXPECT_TRUE(contents(dev) == before) << dev.path << " changed";
	for (const auto &l : legs)
		EXPECT_TRUE(contents(l->disk) == l->before) << l->disk.path << " beneath changed";
	const uint64_t last = dev.size - static_cast<uint64_t>(dev.sector_size);
	expect_run({.args = "-f -z -o " + std::to_string(last) + " DEV"}, &dev);
	std::fill(before.begin() + static_cast<ptrdiff_t>(last), before.end(), 0);
	EXPECT_TRUE(contents(dev) == before) << dev.path << ": not its last sector alone zeroed";
	close(holder);
}

} // namespace
