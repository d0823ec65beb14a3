// SPDX-License-Identifier: GPL-2.0-or-later
// Running the real sectrim binary from tests, reading the fault log, and
// comparing a run with its row.
#include "runner.h"
#include "device.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <utility>

namespace {

// The raw monotonic clock, which the fault log uses too.
int64_t raw_now_us()
{
	timespec ts;
	clock_gettime(CLOCK_MONOTONIC_RAW, &ts);
	return int64_t{ts.tv_sec} * 1000000 + ts.tv_nsec / 1000;
}

// Take what the pipe holds, waiting up to timeout_ms; false at its end.
bool read_pipe(int reader, int timeout_ms, tool_result *result)
{
	pollfd ready = {reader, POLLIN, 0};
	if (poll(&ready, 1, timeout_ms) <= 0)
		return true;
	char buf[4096];
	const ssize_t n = read(reader, buf, sizeof buf);
	if (n <= 0)
		return n < 0 && errno == EINTR;
	if (result->first_out_us < 0)
		result->first_out_us = raw_now_us();
	result->out.append(buf, static_cast<size_t>(n));
	return true;
}

// "DEV" and "SECTOR" replaced: tables name the device before it exists.
std::string placed(std::string text, const loop_device *dev)
{
	if (!dev)
		return text;
	const std::pair<std::string, std::string> marks[] = {
		{"DEV", dev->path}, {"SECTOR", std::to_string(dev->sector_size)}};
	for (const auto &[mark, value] : marks)
		for (size_t at = 0; (at = text.find(mark, at)) != std::string::npos;
		     at += value.size())
			text.replace(at, mark.size(), value);
	return text;
}

} // namespace

tool_result run_program(const char *path, const std::vector<std::string> &argv,
			const std::vector<std::string> &env, stream_setup target)
{
	std::vector<std::string> environment;
	for (char **e = environ; *e; e++)
		environment.emplace_back(*e);
	std::vector<std::string> settings = {"LC_ALL=C", "LANGUAGE"};
	settings.insert(settings.end(), env.begin(), env.end());
	for (const std::string &entry : settings) {
		const std::string name = entry.substr(0, entry.find('=')) + "=";
		std::erase_if(environment,
			      [&](const std::string &e) { return e.starts_with(name); });
		if (entry.find('=') != std::string::npos)
			environment.push_back(entry);
	}
	// Value-initialised: the lists end in a null pointer.
	std::vector<char *> child_argv(argv.size() + 1), child_envp(environment.size() + 1);
	const auto c_str = [](const std::string &s) { return const_cast<char *>(s.c_str()); };
	std::ranges::transform(argv, child_argv.begin(), c_str);
	std::ranges::transform(environment, child_envp.begin(), c_str);

	// Standard error to a memory file, which never blocks the child;
	// standard output through a pipe read as it comes, or as asked.
	tool_result result = {-1, "", ""};
	const int errs = memfd_create("tool-stderr", MFD_CLOEXEC);
	int out[2] = {-1, -1};
	if (errs < 0 || pipe2(out, O_CLOEXEC) != 0)
		return {-1, "", std::string("<memfd_create or pipe: ") + strerror(errno) + ">"};
	posix_spawn_file_actions_t actions;
	posix_spawn_file_actions_init(&actions);
	posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
	posix_spawn_file_actions_adddup2(&actions, errs, 2);
	if (target == STDOUT_DEV_FULL)
		posix_spawn_file_actions_addopen(&actions, 1, "/dev/full", O_WRONLY, 0);
	else if (target == STDOUT_CLOSED)
		posix_spawn_file_actions_addclose(&actions, 1);
	else
		posix_spawn_file_actions_adddup2(&actions, out[1], 1);
	if (target == STDERR_CLOSED)
		posix_spawn_file_actions_addclose(&actions, 2);
	// The reader gone, and SIGPIPE ignored, which the child inherits.
	if (target == STDOUT_BROKEN_PIPE)
		close(std::exchange(out[0], -1));
	const auto pipe_signal = signal(SIGPIPE, target == STDOUT_BROKEN_PIPE ? SIG_IGN : SIG_DFL);
	pid_t pid;
	const int rc =
		posix_spawn(&pid, path, &actions, nullptr, child_argv.data(), child_envp.data());
	signal(SIGPIPE, pipe_signal);
	posix_spawn_file_actions_destroy(&actions);
	close(out[1]);
	if (rc != 0) {
		result.err = std::string("<spawn ") + path + ": " + strerror(rc) + ">";
	} else {
		// Kill the child once 20 s have passed.
		const int64_t deadline = raw_now_us() + 20000000;
		int wstatus = 0;
		for (pid_t r;
		     (r = waitpid(pid, &wstatus, WNOHANG)) != pid && (r >= 0 || errno == EINTR);) {
			if (raw_now_us() > deadline)
				kill(pid, SIGKILL);
			if (out[0] < 0 || !read_pipe(out[0], 1, &result))
				poll(nullptr, 0, 1);
		}
		while (out[0] >= 0 && read_pipe(out[0], -1, &result))
			;
		if (WIFEXITED(wstatus))
			result.status = WEXITSTATUS(wstatus);
		result.err = file_text("/proc/self/fd/" + std::to_string(errs));
	}
	close(out[0]); // nothing when the reader is already gone
	close(errs);
	return result;
}

std::string file_text(const std::string &path)
{
	std::stringstream text;
	text << std::ifstream(path).rdbuf();
	return text.str();
}

temp_file::temp_file()
{
	const char *dir = getenv("TMPDIR");
	std::string pattern = std::string(dir && *dir ? dir : "/tmp") + "/hostkit-test.XXXXXX";
	if (int fd = mkstemp(pattern.data()); fd >= 0 && close(fd) == 0)
		path = pattern;
}

temp_file::~temp_file()
{
	if (!path.empty())
		unlink(path.c_str());
}

std::vector<std::string> fault_env(const std::string &log_path,
				   const std::vector<std::string> &settings)
{
	// ASan insists on coming first, which a preloaded library defeats.
	const char *old = getenv("ASAN_OPTIONS");
	std::vector<std::string> env = {
		std::string("LD_PRELOAD=") + FAULT_INJECT_PATH,
		"ASAN_OPTIONS=" + (old && *old ? std::string(old) + ":" : "") +
			"verify_asan_link_order=0",
		"FAULT_LOG=" + log_path,
	};
	env.insert(env.end(), settings.begin(), settings.end());
	return env;
}

std::vector<fault_event> read_fault_log(const std::string &path)
{
	std::vector<fault_event> events;
	std::ifstream in(path);
	for (std::string line; std::getline(in, line);) {
		fault_event ev = {"", 0, 0, 0};
		char name[16];
		int64_t sec;
		int clock_id, end = -1, usec_from = 0;
		long usec;
		const char *text = line.c_str();
		const auto whole = [&] { return static_cast<size_t>(end) == line.size(); };
		// Data requests stamp exactly six digits of microseconds.
		if (sscanf(text, "%15s %" SCNu64 " %" SCNu64 " %" SCNd64 ".%n%ld%n", name,
			   &ev.start, &ev.length, &sec, &usec_from, &usec, &end) == 5 &&
		    end - usec_from == 6 && whole() && usec >= 0)
			ev = {name, ev.start, ev.length, sec * 1000000 + usec};
		else if (sscanf(text, "CLOCK %d %" SCNd64 ".%ld%n", &clock_id, &sec, &usec, &end) ==
				 3 &&
			 whole())
			ev = {"CLOCK", static_cast<uint64_t>(clock_id), 0, sec * 1000000 + usec};
		else if (sscanf(text, "CLOCK %d failed%n", &clock_id, &end) == 1 && whole())
			ev = {"CLOCK", static_cast<uint64_t>(clock_id), 0, -1};
		else if (int flags; sscanf(text, "OPEN %i %n", &flags, &end) == 1 && end > 0)
			ev = {"OPEN", 0, 0, 0, line.substr(static_cast<size_t>(end)), flags};
		else
			ev.name = line == "GETSIZE64" || line == "SSZGET" ? line : "BAD: " + line;
		events.push_back(ev);
	}
	return events;
}

std::vector<std::string> words(const std::string &text)
{
	std::vector<std::string> list;
	std::istringstream in(text);
	for (std::string word; in >> word;)
		list.push_back(word == "''" ? "" : word);
	return list;
}

void expect_run(const tool_case &c, const loop_device *dev, bool patterned, const std::string &note)
{
	if (dev && c.only_sector && c.only_sector != dev->sector_size)
		return;
	std::vector<std::string> args = c.argv.empty() ? words(c.args) : c.argv;
	args.insert(args.begin(), "sectrim");
	std::string what = c.faults;
	for (std::string &a : args) {
		a = placed(a, dev);
		what += (what.empty() ? "" : " ") + (a.empty() ? std::string("''") : a);
	}
	what += note.empty() ? "" : " (" + note + ")";
	if (patterned) {
		ASSERT_TRUE(fill_pattern(*dev)) << what;
	}
	temp_file log;
	const bool logged = !c.faults.empty() || !c.requests.empty() || !c.calls.empty() ||
			    !c.opened.empty() || c.flags >= 0;
	const std::vector<std::string> settings = words(c.faults);
	const tool_result r = run_program(
		SECTRIM_PATH, args, logged ? fault_env(log.path, settings) : settings, c.streams);
	EXPECT_EQ(r.status, c.status) << what << "\nstderr: " << r.err;
	EXPECT_EQ(r.out, placed(c.out, dev)) << what;
	EXPECT_EQ(r.err, placed(c.err, dev)) << what;
	if (logged) {
		std::string requests, calls;
		int opens = 0, device_opens = 0;
		const std::string device = dev ? dev->path : c.opened;
		for (const fault_event &ev : read_fault_log(log.path)) {
			if (c.flags >= 0 && ev.name == "OPEN" && ev.path == device) {
				EXPECT_EQ(ev.flags, c.flags)
					<< what << ": flags of the open, octal " << std::oct
					<< ev.flags << " for " << c.flags << std::dec;
				device_opens++;
			}
			if (ev.name == "DISCARD" || ev.name == "ZEROOUT" || ev.name == "SECDISCARD")
				requests += (requests.empty() ? "" : ", ") + ev.name + " " +
					    std::to_string(ev.start) + " " +
					    std::to_string(ev.length);
			if (ev.name != "CLOCK" && ev.name != "OPEN")
				calls += (calls.empty() ? "" : " ") + ev.name;
			// A coverage build also opens its count files at exit.
			opens += ev.name == "OPEN" && ev.path == c.opened;
		}
		EXPECT_EQ(requests, placed(c.requests, dev)) << what;
		EXPECT_TRUE(c.calls.empty() || calls == c.calls)
			<< what << "\ncalls: " << calls << "\nexpected: " << c.calls;
		EXPECT_TRUE(c.flags < 0 || device_opens == 1)
			<< what << "\n"
			<< device << " opened " << device_opens << " times";
		EXPECT_TRUE(c.opened.empty() || opens == c.opens)
			<< what << "\n"
			<< c.opened << " opened " << opens << " times, expected " << c.opens;
	}
	if (patterned) {
		EXPECT_TRUE(check_contents(*dev, c.zero_at, c.zero_length, c.any_inside)) << what;
	}
}

void expect_runs(const std::vector<tool_case> &cases, const loop_device *dev, bool patterned)
{
	for (const tool_case &c : cases)
		expect_run(c, dev, patterned);
}
