#!/bin/sh
# SPDX-License-Identifier: GPL-2.0-or-later
# The tool under valgrind's memcheck, on a real loop device and on its
# failure paths, plain and translated: no memory error, no heap block left
# at exit, not even a reachable one, and no allocation per chunk. Valgrind
# runs the C library's own release hook at exit, which frees what the locale
# and catalogue set-up allocated, so anything still in use there is ours.
# Usage: memcheck_test.sh SECTRIM SECTRIM_IN_TREE
set -u

tool=$1
in_tree=$2

# shellcheck source=tests/support/check.sh
. "$(dirname "$0")/../support/check.sh"
# shellcheck source=tests/support/loop.sh
. "$(dirname "$0")/../support/loop.sh"
need_command valgrind "MEMCHECK"
loop_need
work=$(mktemp -d) || exit 1
loop_traps "$work"
: >"$work/regular" || exit 1
dev=$(loop_attach "$work/backing" 1M) || exit 1

# memcheck STATUS PROGRAM ARG...: the run exits with STATUS, and memcheck
# finds no error and no block in use at exit.
memcheck() {
	want="exit $1, 0 errors, in use at exit: 0 bytes in 0 blocks"
	shift
	valgrind --leak-check=full --show-leak-kinds=all --errors-for-leak-kinds=all \
		--error-exitcode=99 --log-file="$work/log" "$@" >/dev/null 2>"$work/err"
	got="exit $?"
	got="$got, $(sed -n 's/.*ERROR SUMMARY: \([0-9]*\) errors.*/\1/p' "$work/log") errors"
	got="$got, in use at exit: $(sed -n 's/.*in use at exit: //p' "$work/log")"
	check "memcheck of $*" "$want" "$got"
	[ "$got" = "$want" ] || cat "$work/err" "$work/log" >&2
}

allocations() { sed -n 's/.*total heap usage: \([0-9,]*\) allocs.*/\1/p' "$work/log"; }

export LC_ALL=C
memcheck 0 "$tool" -z -v -p 64K "$dev"
memcheck 0 "$tool" -v -o 4096 -l 64K "$dev"
memcheck 0 "$tool" -v -o 1M "$dev"
memcheck 1 "$tool" -s -v "$dev"
memcheck 1 "$tool" -o 100 "$dev"
memcheck 1 "$tool" -o 2M "$dev"
memcheck 1 "$tool" -p 1000 "$dev"
memcheck 1 "$tool" -o 1x "$dev"
memcheck 1 "$tool" "$work/regular"
memcheck 1 "$tool" /nonexistent/device
memcheck 1 "$tool"
memcheck 1 "$tool" --bogus "$dev"
memcheck 1 "$tool" "$dev" "$dev"
# As many allocations for 256 chunks as for one, report line included.
memcheck 0 "$tool" -v -p 4K -l 4K "$dev"
one=$(allocations)
memcheck 0 "$tool" -v -p 4K "$dev"
check "heap allocations of 256 chunks, as of one" "${one:-none counted}" "$(allocations)"
memcheck 0 "$tool" --help
memcheck 0 "$tool" --version
# Translated: the catalogue is loaded and every message looked up.
export LC_ALL=C.UTF-8 LANGUAGE=de
memcheck 0 "$in_tree" -z -v -p 256K "$dev"
memcheck 1 "$in_tree" -o 1x "$dev"
memcheck 1 "$in_tree" -s "$dev"

finish
