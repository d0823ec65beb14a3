// SPDX-License-Identifier: GPL-2.0-or-later
// Running the real sectrim binary from tests, reading the fault log, and
// comparing a run with its row.
#include "runner.h"
#include "device.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
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

namespace {

// Apply one "NAME=value" or bare "NAME" to the environment list.
void apply_setting(std::vector<std::string> *environment, const std::string &entry)
{
	const std::string name = entry.substr(0, entry.find('=')) + "=";
	std::erase_if(*environment, [&](const std::string &e) { return e.starts_with(name); });
	if (entry.find('=') != std::string::npos)
		environment->push_back(entry);
}

std::string read_all(int fd)
{
	std::string text;
	char buf[4096];
	ssize_t n;
	if (lseek(fd, 0, SEEK_SET) != 0)
		return "<cannot rewind captured stream>";
	while ((n = read(fd, buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
		text.append(buf, static_cast<size_t>(std::max<ssize_t>(n, 0)));
	return text;
}

// The raw monotonic clock, which the fault log uses too.
int64_t raw_now_us()
{
	timespec ts;
	clock_gettime(CLOCK_MONOTONIC_RAW, &ts);
	return int64_t{ts.tv_sec} * 1000000 + ts.tv_nsec / 1000;
}

// Take what the pipe holds, or wait up to timeout_ms for it; false at the
// end of the output.
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

// Wait for the child, reading the pipe meanwhile when there is one, and
// kill it once 20 s have passed.
int wait_with_deadline(pid_t pid, int reader, tool_result *result)
{
	const int64_t deadline = raw_now_us() + 20000000;
	int wstatus = 0;
	for (pid_t r; (r = waitpid(pid, &wstatus, WNOHANG)) != pid && (r >= 0 || errno == EINTR);) {
		if (raw_now_us() > deadline) {
			kill(pid, SIGKILL);
			while (waitpid(pid, &wstatus, 0) < 0 && errno == EINTR)
				;
			break;
		}
		if (reader >= 0)
			read_pipe(reader, 1, result);
		else
			poll(nullptr, 0, 1);
	}
	while (reader >= 0 && read_pipe(reader, -1, result))
		;
	return wstatus;
}

// In the child: point the output streams where the test wants them.
bool redirect_streams(stream_setup target, int captured)
{
	int fds[2];
	switch (target) {
	case STREAMS_CAPTURED:
	case STDOUT_PIPE:
		return dup2(captured, 1) >= 0;
	case STDERR_CLOSED:
		return dup2(captured, 1) >= 0 && close(2) == 0;
	case STDOUT_DEV_FULL:
		return (fds[0] = open("/dev/full", O_WRONLY)) >= 0 && dup2(fds[0], 1) >= 0;
	case STDOUT_BROKEN_PIPE:
		if (pipe(fds) != 0)
			return false;
		close(fds[0]);
		signal(SIGPIPE, SIG_IGN);
		return dup2(fds[1], 1) >= 0;
	case STDOUT_CLOSED:
		return close(1) == 0 || errno == EBADF;
	}
	return false;
}

// "DEV" and "SECTOR" of a row replaced by the device's: tables name the
// device before it exists.
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
	for (const std::string &entry : {std::string("LC_ALL=C"), std::string("LANGUAGE")})
		apply_setting(&environment, entry);
	for (const std::string &entry : env)
		apply_setting(&environment, entry);
	std::vector<char *> child_argv, child_envp;
	for (const std::string &a : argv)
		child_argv.push_back(const_cast<char *>(a.c_str()));
	for (const std::string &e : environment)
		child_envp.push_back(const_cast<char *>(e.c_str()));
	child_argv.push_back(nullptr);
	child_envp.push_back(nullptr);

	tool_result result = {-1, 0, "", ""};
	// Memory files rather than pipes: the child can never block on a full
	// pipe while the parent waits for it. A pipe only where the test reads
	// the output as it comes.
	int out = memfd_create("tool-stdout", MFD_CLOEXEC);
	int errs = memfd_create("tool-stderr", MFD_CLOEXEC);
	int out_pipe[2] = {-1, -1};
	if (out < 0 || errs < 0 || (target == STDOUT_PIPE && pipe2(out_pipe, O_CLOEXEC) != 0)) {
		result.err = std::string("<memfd_create or pipe: ") + strerror(errno) + ">";
		return result;
	}
	fflush(nullptr);
	pid_t pid = fork();
	if (pid == 0) {
		int null_in = open("/dev/null", O_RDONLY);
		if (null_in < 0 || dup2(null_in, 0) < 0 || dup2(errs, 2) < 0 ||
		    !redirect_streams(target, target == STDOUT_PIPE ? out_pipe[1] : out))
			_exit(126);
		execve(path, child_argv.data(), child_envp.data());
		dprintf(2, "<exec %s: %s>\n", path, strerror(errno));
		_exit(127);
	}
	if (out_pipe[1] >= 0)
		close(out_pipe[1]);
	if (pid < 0) {
		result.err = std::string("<fork: ") + strerror(errno) + ">";
	} else {
		int wstatus = wait_with_deadline(pid, out_pipe[0], &result);
		if (WIFEXITED(wstatus))
			result.status = WEXITSTATUS(wstatus);
		else if (WIFSIGNALED(wstatus))
			result.signal = WTERMSIG(wstatus);
		if (target != STDOUT_PIPE)
			result.out = read_all(out);
		result.err = read_all(errs);
	}
	for (int fd : {out_pipe[0], out, errs})
		if (fd >= 0)
			close(fd);
	return result;
}

tool_result run_sectrim(const std::vector<std::string> &args, const std::vector<std::string> &env,
			stream_setup target)
{
	std::vector<std::string> argv = {"sectrim"};
	argv.insert(argv.end(), args.begin(), args.end());
	return run_program(SECTRIM_PATH, argv, env, target);
}

std::string command_text(const std::vector<std::string> &args)
{
	std::string text = "sectrim";
	for (const std::string &a : args)
		text += " " + (a.empty() ? std::string("''") : a);
	return text;
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
	// An ASan build insists on being first in the link order; a preloaded
	// library comes before it.
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
		// Data requests stamp their time with exactly six digits of
		// microseconds.
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
		else if (line.starts_with("OPEN "))
			ev = {"OPEN", 0, 0, 0, line.substr(5)};
		else
			ev.name = line == "GETSIZE64" || line == "SSZGET" ? line : "BAD: " + line;
		events.push_back(ev);
	}
	return events;
}

std::string request_texts(const std::vector<fault_event> &events)
{
	std::string texts;
	for (const fault_event &ev : events)
		if (ev.name == "DISCARD" || ev.name == "ZEROOUT" || ev.name == "SECDISCARD")
			texts += (texts.empty() ? "" : ", ") + ev.name + " " +
				 std::to_string(ev.start) + " " + std::to_string(ev.length);
	return texts;
}

std::vector<std::string> words(const std::string &text)
{
	std::vector<std::string> list;
	for (size_t at = 0, end; at < text.size(); at = end + 1) {
		end = std::min(text.find(' ', at), text.size());
		if (end > at)
			list.push_back(
				text.substr(at, end - at) == "''" ? "" : text.substr(at, end - at));
	}
	return list;
}

void expect_run(const tool_case &c, const loop_device *dev, bool patterned, const std::string &note)
{
	if (dev && c.only_sector && c.only_sector != dev->sector_size)
		return;
	std::vector<std::string> args = c.argv.empty() ? words(c.args) : c.argv;
	for (std::string &a : args)
		a = placed(a, dev);
	const std::string what = c.faults + (c.faults.empty() ? "" : " ") + command_text(args) +
				 (note.empty() ? "" : " (" + note + ")");
	if (patterned) {
		ASSERT_TRUE(fill_pattern(*dev)) << what;
	}
	temp_file log;
	const bool logged =
		!c.faults.empty() || !c.requests.empty() || !c.calls.empty() || !c.opened.empty();
	const std::vector<std::string> settings = words(c.faults);
	const tool_result r =
		run_sectrim(args, logged ? fault_env(log.path, settings) : settings, c.streams);
	EXPECT_EQ(r.status, c.status) << what << "\nstderr: " << r.err;
	EXPECT_EQ(r.out, placed(c.out, dev)) << what;
	EXPECT_EQ(r.err, placed(c.err, dev)) << what;
	if (logged) {
		const std::vector<fault_event> events = read_fault_log(log.path);
		EXPECT_EQ(request_texts(events), placed(c.requests, dev)) << what;
		std::string calls;
		int opens = 0;
		for (const fault_event &ev : events) {
			if (ev.name != "CLOCK" && ev.name != "OPEN")
				calls += (calls.empty() ? "" : " ") + ev.name;
			// Only this path counts: a coverage build also opens
			// its count files at exit.
			opens += ev.name == "OPEN" && ev.path == c.opened;
		}
		EXPECT_TRUE(c.calls.empty() || calls == c.calls)
			<< what << "\ncalls: " << calls << "\nexpected: " << c.calls;
		EXPECT_TRUE(c.opened.empty() || opens == c.opens)
			<< what << "\n"
			<< c.opened << " opened " << opens << " times, expected " << c.opens;
	}
	if (patterned) {
		EXPECT_TRUE(check_contents(*dev, c.zero_at, c.zero_length, c.any_inside)) << what;
	}
}
