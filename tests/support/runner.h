// SPDX-License-Identifier: GPL-2.0-or-later
// Running the real sectrim binary from tests: exit status and both output
// streams, with the fault-injection library preloaded when asked, the log
// that library writes read back, and one record for a run and everything
// expected of it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct loop_device;

struct tool_result {
	int status; // exit status; -1 when a signal ended the process
	int signal; // the signal that ended it, else 0
	std::string out, err;
	// When the first output arrived, on the raw monotonic clock in
	// microseconds (the fault log's clock); -1 if none did.
	int64_t first_out_us = -1;
};

// The child's output streams: both captured (standard output read as it
// comes), or standard output going where writing fails:
// /dev/full, a pipe whose reader has gone (with the broken-pipe signal
// ignored, as the child inherits it), or no descriptor at all; or standard
// error closed.
enum stream_setup {
	STREAMS_CAPTURED,
	STDOUT_DEV_FULL,
	STDOUT_BROKEN_PIPE,
	STDOUT_CLOSED,
	STDERR_CLOSED
};

// Run path with argv (argv[0] included) and the test's environment, changed
// so that messages come out in English (LC_ALL=C, LANGUAGE unset), then by
// env: "NAME=value" sets a variable, a bare "NAME" removes it. A process
// still running after 20 s is killed (status -1, signal SIGKILL).
tool_result run_program(const char *path, const std::vector<std::string> &argv,
			const std::vector<std::string> &env = {},
			stream_setup target = STREAMS_CAPTURED);

// The same with the sectrim binary of this build, invoked as "sectrim".
tool_result run_sectrim(const std::vector<std::string> &args,
			const std::vector<std::string> &env = {},
			stream_setup target = STREAMS_CAPTURED);

// A fresh empty file under the temporary directory, removed with the record.
struct temp_file {
	std::string path;
	temp_file();
	~temp_file();
	temp_file(const temp_file &) = delete;
	temp_file &operator=(const temp_file &) = delete;
};

// Environment entries that preload the fault-injection library and make it
// log to log_path, followed by settings ("FAULT_FAKE=1", ...).
std::vector<std::string> fault_env(const std::string &log_path,
				   const std::vector<std::string> &settings = {});

// One line of the fault log. Data requests (DISCARD, ZEROOUT, SECDISCARD)
// carry start, length and the raw monotonic time of issue in microseconds;
// CLOCK carries the clock id in start and the reading handed to the program
// in time_us (-1 when the reading failed); OPEN carries the path opened
// (control characters shown as '?'); GETSIZE64 and SSZGET carry nothing.
struct fault_event {
	std::string name;
	uint64_t start, length;
	int64_t time_us;
	std::string path = "";
};

// The log's lines in order; a line that does not parse becomes an event
// named "BAD: <line>" so that comparisons show it.
std::vector<fault_event> read_fault_log(const std::string &path);

// A text split at blanks.
std::vector<std::string> words(const std::string &text);

// One run and what must come of it. In args, out, err and requests "DEV"
// stands for the device and "SECTOR" for its sector size.
struct tool_case {
	std::string args = ""; // split at blanks; "''" is an empty argument
	int status = 0;
	std::string out = "", err = "";
	// Fault-library settings, split at blanks. With settings or any
	// expected log, the library is preloaded, and then the data requests
	// are always compared.
	std::string faults = "";
	std::string requests = ""; // "NAME start length", joined by ", "
	std::string calls = "";    // every logged call but clocks and opens; compared when given
	// On a patterned device: where it must read zeros afterwards, the
	// pattern everywhere else; with any_inside, anything inside.
	uint64_t zero_at = 0, zero_length = 0;
	bool any_inside = false;
	stream_setup streams = STREAMS_CAPTURED;
	int only_sector = 0;                // the row is for this sector size only
	std::vector<std::string> argv = {}; // taken instead of args when given
	std::string opened = "";            // a path, as logged, opened ...
	int opens = 0;                      // ... this many times
};

// Run c against dev (which may be null) and compare everything the row
// expects. With patterned, the device is filled with the pattern first and
// its contents are checked afterwards. note is added to every failure.
void expect_run(const tool_case &c, const loop_device *dev = nullptr, bool patterned = false,
		const std::string &note = "");
