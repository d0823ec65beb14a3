# shellcheck shell=sh
# SPDX-License-Identifier: GPL-2.0-or-later
# Helpers shared by the packaging tests: count checks, show both values when
# one fails, and end with the tally a test runner reads.
passed=0
failed=0
skipped=0

# check WHAT EXPECTED ACTUAL
check() {
	if [ "$2" = "$3" ]; then
		passed=$((passed + 1))
	else
		failed=$((failed + 1))
		printf 'FAIL: %s\n  expected: %s\n  actual:   %s\n' "$1" "$2" "$3"
	fi
}

# skip WHY: a check that cannot run here says so.
skip() {
	printf 'SKIPPED: %s\n' "$1"
	skipped=$((skipped + 1))
}

# need_command COMMAND WHAT: a test that cannot run at all without COMMAND
# says so loudly and ends as skipped.
need_command() {
	command -v "$1" >/dev/null 2>&1 && return 0
	echo "*** $2 NOT RUN: $1 is not installed ***" >&2
	exit 77
}

# finish: the tally, then status 0, 1 on a failure, or 77 (skipped) when a
# check could not run.
finish() {
	printf '%d passed, %d failed, %d skipped\n' "$passed" "$failed" "$skipped"
	[ "$failed" -eq 0 ] || exit 1
	[ "$skipped" -eq 0 ] || exit 77
	exit 0
}

# The option pairs ("-o --offset") of a help text on standard input.
help_options() {
	sed -n 's/^ \(-[A-Za-z]\), \(--[a-z-]*\).*/\1 \2/p'
}
