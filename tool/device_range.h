// SPDX-License-Identifier: GPL-2.0-or-later
// The device range operation: open and probe the device, plan the range,
// and hand it to the kernel chunk by chunk.
#pragma once

#include <cstdint>

enum operation_mode : int {
	MODE_DISCARD = 0,
	MODE_ZERO_FILL = 1,
	MODE_SECURE_DISCARD = 2,
};

// The defaults are those of a command line without options.
struct tool_options {
	uint64_t offset = 0;
	uint64_t length = UINT64_MAX; // all ones: up to the end of the device
	uint64_t step = 0;            // 0: one chunk for the whole range
	operation_mode mode = MODE_DISCARD;
	bool verbose = false;
	bool force = false; // open without the exclusive claim
};

// Returns only on success; every failure exits with status 1.
void run_device_range(const char *path, const tool_options *options);
