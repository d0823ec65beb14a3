#!/bin/sh
# SPDX-License-Identifier: GPL-2.0-or-later
# The walk's cost to the kernel, counted by strace on a real loop device:
# one system call per chunk, the request, verbose or not, and one write per
# report line. The clock is read through the vDSO and costs none.
# Usage: syscalls_test.sh SECTRIM
set -u

tool=$1

# shellcheck source=tests/support/check.sh
. "$(dirname "$0")/../support/check.sh"
# shellcheck source=tests/support/loop.sh
. "$(dirname "$0")/../support/loop.sh"
need_command strace "SYSTEM CALL COUNT"
loop_need
work=$(mktemp -d) || exit 1
loop_traps "$work"
dev=$(loop_attach "$work/backing" 1M) || exit 1

# calls ARG...: the system calls of one run, less one per report line. A
# 32-bit program's exec is totalled apart, in the 64-bit table.
calls() {
	strace -c -U name,calls -o "$work/summary" "$tool" "$@" "$dev" >"$work/out"
	awk -v lines="$(wc -l <"$work/out")" '$1 == "total" { n += $2 } END { print n - lines }' \
		"$work/summary"
}

export LC_ALL=C
for verbose in "" -v; do
	one=$(calls $verbose -p 4K -l 4K)
	check "system calls of 256 chunks${verbose:+, $verbose}, less those of one" 255 \
		"$(($(calls $verbose -p 4K) - one))"
done
finish
