// SPDX-License-Identifier: GPL-2.0-or-later
// Running the real sectrim binary, the fault library preloaded when asked
// and its log read back; one record for a run and all expected of it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct loop_device;

struct tool_result {
	int status; // exit status; -1 when a signal ended the process
	std::string out, err;
	int64_t first_out_us = -1; // first output's arrival, us of the log's clock; -1: none
};

// Both output streams captured (standard output read as it comes), or one
// where writing fails: /dev/full, a pipe whose reader has gone (SIGPIPE
// ignored), no descriptor at all.
enum stream_setup {
	STREAMS_CAPTURED,
	STDOUT_DEV_FULL,
	STDOUT_BROKEN_PIPE,
	STDOUT_CLOSED,
	STDERR_CLOSED
};

// Run path with argv (argv[0] included) in the test's environment with
// LC_ALL=C and LANGUAGE unset, then changed by env: "NAME=value" sets, a
// bare "NAME" removes. A process still running after 20 s is killed.
tool_result run_program(const char *path, const std::vector<std::string> &argv,
			const std::vector<std::string> &env = {},
			stream_setup target = STREAMS_CAPTURED);

// What the file holds; empty if it cannot be read.
std::string file_text(const std::string &path);

// A fresh empty file under the temporary directory, removed with the record.
struct temp_file {
	std::string path;
	temp_file();
	~temp_file();
	temp_file(const temp_file &) = delete;
	temp_file &operator=(const temp_file &) = delete;
};

// Environment that preloads the fault library logging to log_path, then settings.
std::vector<std::string> fault_env(const std::string &log_path,
				   const std::vector<std::string> &settings = {});

// One line of the fault log. Data requests carry start, length and the raw
// monotonic time of issue in microseconds; CLOCK the clock id in start and
// the reading in time_us (-1: failed); OPEN the path, control characters
// shown as '?', and the flags; GETSIZE64 and SSZGET nothing.
struct fault_event {
	std::string name;
	uint64_t start, length;
	int64_t time_us;
	std::string path = "";
	int flags = 0;
};

// The log's lines in order; one that does not parse becomes "BAD: <line>".
std::vector<fault_event> read_fault_log(const std::string &path);

std::vector<std::string> words(const std::string &text);

// One run and what must come of it. In args, out, err and requests "DEV"
// stands for the device and "SECTOR" for its sector size.
struct tool_case {
	std::string args = ""; // split at blanks; "''" is an empty argument
	int status = 0;
	std::string out = "", err = "";
	// Fault settings, split at blanks. With settings or any expected log
	// the library is preloaded and the data requests always compared.
	std::string faults = "";
	std::string requests = ""; // "NAME start length", joined by ", "
	std::string calls = "";    // every logged call but clocks and opens; compared when given
	// On a patterned device: where zeros (any_inside: anything) must be.
	uint64_t zero_at = 0, zero_length = 0;
	bool any_inside = false;
	stream_setup streams = STREAMS_CAPTURED;
	int only_sector = 0;                // the row is for this sector size only
	std::vector<std::string> argv = {}; // taken instead of args when given
	std::string opened = "";            // a path, as logged, opened ...
	int opens = 0;                      // ... this many times
	int flags = -1;                     // the device opened, with exactly these flags
};

// Run c against dev (may be null) and compare everything the row expects;
// with patterned, fill the device first and check it afterwards.
void expect_run(const tool_case &c, const loop_device *dev = nullptr, bool patterned = false,
		const std::string &note = "");
void expect_runs(const std::vector<tool_case> &cases, const loop_device *dev = nullptr,
		 bool patterned = false);
