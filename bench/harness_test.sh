#!/bin/bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Tests of the benchmark harness. Its per-chunk ratios are only as good as
# chunk_loop's claim to ask the kernel for exactly what sectrim asks for,
# and as its reading of callgrind_annotate's report and of its own timings.
#
# usage: harness_test.sh SECTRIM CHUNK_LOOP FAULT_INJECT
# The request comparison needs a loop device, so root: without one the test
# reports itself skipped (status 77), or fails under
# HOSTKIT_REQUIRE_DEVICES=1.

# shellcheck source=bench/run.sh
. "$(dirname "$0")/run.sh"
SECTRIM=$1
CHUNK_LOOP=$2
FAULT_INJECT=$3
work=$(mktemp -d /tmp/hostkit-bench-test.XXXXXX)
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# shellcheck source=tests/support/check.sh
. "$(dirname "$0")/../tests/support/check.sh"

# A callee's cost after calls=, which is not the caller's own, and code
# inlined from another file (fi=), which is.
cat >"$work/callgrind.out" <<EOF
events: Ir
ob=(1) $work/prog
fl=(1) main.c
fn=(1) main
5 100
+1 20
cob=(2) $work/libc.so
cfi=(2) puts.c
cfn=(2) puts
calls=3 0
7 500
fi=(3) inline.h
* 3
fe=(1)
ob=(2)
fl=(2)
fn=(2)
0 400
ob=(1)
fn=(3) helper
-2 7
totals: 530
EOF
while read -r object want; do
	check "own_instructions $object" "$want" "$(own_instructions "$work/$object")"
done <<'EOF'
prog 130
libc.so 400
loader 0
EOF

while read -r want values; do
	# shellcheck disable=SC2086
	check "median of $values" "$want" "$(printf '%s\n' $values | median)"
done <<'EOF'
2 3 1 2
2.5 4 1 3 2
5 5
10 10 9 100
EOF

check "per_chunk of 130 each over $chunks chunks" 130 "$(per_chunk $((130 * (chunks - 1) + 999)) 999)"
while read -r value op limit want; do
	check "meets $value $op $limit" "$want" "$(meets "$value" "$op" "$limit")"
done <<'EOF'
1.5 <= 1.5 yes
1.51 <= 1.5 no
0.99 < 1 yes
1 < 1 no
EOF

if [ "$(id -u)" != 0 ] || [ ! -e /dev/loop-control ]; then
	if [ "${HOSTKIT_REQUIRE_DEVICES:-}" = 1 ]; then
		check "root and a loop device for the request comparison" yes no
	else
		skip "the request comparison needs root for a loop device"
	fi
	finish
fi

# The device only has to be a block device: the injector answers for its
# size and takes the requests.
attach fake 1M
while read -r size tool_step mode tool_flag; do
	# shellcheck disable=SC2086
	check "chunk_loop's requests for size $size, step $tool_step, $mode, as sectrim's" \
		"$(requests_of "$size" "$SECTRIM" $tool_flag -p "$tool_step" "$dev" | paste -sd' ')" \
		"$(requests_of "$size" "$CHUNK_LOOP" "$dev" "$tool_step" "$mode" | paste -sd' ')"
done <<'EOF'
40960 4096 discard
41472 4096 discard
4096 8192 discard
512 4096 discard
0 4096 discard
1048576 1048576 zeroout -z
12800 4096 secure -s
EOF
check "requests are seen at all" "DISCARD 0 4096 DISCARD 4096 4096" \
	"$(requests_of 8192 "$SECTRIM" -p 4096 "$dev" | paste -sd' ')"
finish
