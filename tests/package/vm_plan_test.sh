#!/bin/sh
# SPDX-License-Identifier: GPL-2.0-or-later
# The read-back of the virtual machine check, on files: a disk as its runs
# must leave it passes, and a byte out of place is named, at the edges of
# every range, for both sector sizes. A read-back that found nothing would
# let every driver pass.
# Usage: vm_plan_test.sh VM_GUEST_SCRIPT
# shellcheck source=tests/support/check.sh
. "$(dirname "$0")/../support/check.sh"
# shellcheck source=scripts/vm-guest.sh
. "$1"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
make_pattern "$work/pattern" "$DISK_SIZE"

# put FILE OFFSET LENGTH SOURCE: LENGTH bytes of SOURCE written at OFFSET.
put() {
	dd if="$4" of="$1" bs=64K seek="$2" count="$3" oflag=seek_bytes iflag=count_bytes \
		conv=notrunc 2>/dev/null
}

printf x >"$work/x"
for u in 512 4096; do
	# The pattern, zeros where the plan zero-fills.
	cp "$work/pattern" "$work/left"
	plan $u "$DISK_SIZE" >"$work/plan"
	while read -r _ expect off len _; do
		[ "$expect" != zeros ] || put "$work/left" "$off" "$len" /dev/zero
	done <"$work/plan"
	check "$u: as the runs leave it" "" \
		"$(contents_problem "$work/left" "$u" "$DISK_SIZE" 6 "$work/pattern")"
	check "$u: the pattern, after the discard alone" "" \
		"$(contents_problem "$work/pattern" "$u" "$DISK_SIZE" 1 "$work/pattern")"
	check "$u: the pattern, after the zero-out too" \
		"byte $((3 * MIB + 3 * u)) of the zero-out range is not zero" \
		"$(contents_problem "$work/pattern" "$u" "$DISK_SIZE" 2 "$work/pattern")"
	# One byte changed: where, and what must be said of it.
	last=$((DISK_SIZE - 1))
	while read -r at source expected; do
		cp "$work/left" "$work/bad"
		put "$work/bad" "$at" 1 "$source"
		check "$u: byte $at from $source" "$expected" \
			"$(contents_problem "$work/bad" "$u" "$DISK_SIZE" 6 "$work/pattern")"
	done <<EOF
0 $work/x byte 0 before the discard range changed
$((MIB + 3 * u - 1)) $work/x byte $((MIB + 3 * u - 1)) before the discard range changed
$((MIB + 3 * u)) /dev/zero
$((2 * MIB + 5 * u - 1)) /dev/zero
$((2 * MIB + 5 * u)) /dev/zero byte $((2 * MIB + 5 * u)) before the zero-out range changed
$((4 * MIB + 5 * u - 1)) $work/x byte $((4 * MIB + 5 * u - 1)) of the zero-out range is not zero
$((5 * MIB + 3 * u)) /dev/zero byte $((5 * MIB + 3 * u)) of the secure-discard range changed
$((9 * MIB + 5 * u)) /dev/zero byte $((9 * MIB + 5 * u)) before the verbose-stepped-zero-out range changed
$((DISK_SIZE - MIB + 3 * u - 1)) /dev/zero byte $((DISK_SIZE - MIB + 3 * u - 1)) before the clamped-zero-out range changed
$last $work/x byte $last of the clamped-zero-out range is not zero
EOF
done
finish
