#!/bin/bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Measure sectrim against the limits it can reach and print one Markdown
# table. Every figure is a ratio or a count taken side by side in this run:
# absolute times on a shared machine are noise, instruction and system call
# counts are not. Rows that need a loop device need root.
#
# usage: bench/run.sh BUILD_DIR   (the programs come from BUILD_DIR/bench/bench_paths.sh)
# environment: BENCH_ROUNDS (default 3) runs of each side of the zero-fill
# pair, BENCH_DISCARD_ROUNDS (default 7) of the discard pair, which is
# cheap enough for more.
#
# Sourced rather than run, it only defines its functions, for the tests.
set -euo pipefail

step=4096
chunks=16384
sector=512
rows=()
unmet=0
mounted=()

# shellcheck source=tests/support/loop.sh
. "$(dirname "${BASH_SOURCE[0]}")/../tests/support/loop.sh"

# Detach the loop devices on images under our own work directory, found
# through the images themselves, before the memory file system under it
# goes.
cleanup() {
	loop_detach_under "$work"
	for dir in ${mounted[@]+"${mounted[@]}"}; do
		umount "$dir" || true
	done
	rm -rf "$work"
}

say() { echo "bench: $*" >&2; }

# row ID MEASURE TOOL YARDSTICK RATIO TARGET MET
row() {
	local IFS='|'
	rows+=("| $* |")
	[ "$7" != no ] || unmet=$((unmet + 1))
}

# calc EXPRESSION: floating-point arithmetic through awk.
calc() { awk "BEGIN { print $1 }"; }
fixed() { awk -v v="$2" "BEGIN { printf \"%.$1f\", v }"; }
# meets VALUE OP LIMIT: yes or no.
meets() { awk -v v="$1" -v l="$3" "BEGIN { print (v $2 l) ? \"yes\" : \"no\" }"; }
median() { sort -g | awk '{ v[NR] = $1 } END { print NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

have() { command -v "$1" >/dev/null; }
is_root() { [ "$(id -u)" = 0 ]; }

# attach NAME SIZE: a sparse image under the work directory on a new loop
# device, left in $dev; the EXIT trap detaches it.
attach() {
	truncate -s "$2" "$work/$1.img"
	dev=$(losetup -f --show "$work/$1.img")
}

# System calls of one run, as strace -c totals them.
syscalls() {
	strace -f -c -o "$work/strace.txt" "$@" >/dev/null
	awk '$NF == "total" { print $4 }' "$work/strace.txt"
}

# under_valgrind "VALGRIND OPTIONS" VARIABLE=VALUE... -- COMMAND...: the
# environment is given in full, so both sides of a pair see the same one.
under_valgrind() {
	local options=$1 environment=()
	shift
	while [ "$1" != -- ]; do
		environment+=("$1")
		shift
	done
	shift
	# shellcheck disable=SC2086
	env -i ${environment[@]+"${environment[@]}"} "$(command -v valgrind)" $options "$@" \
		>/dev/null 2>"$work/valgrind.txt" || { cat "$work/valgrind.txt" >&2; return 1; }
}

# callgrind_annotate's reading of the last callgrind run: "COST
# FILE:FUNCTION [OBJECT]" a function, commas left out of the counts.
annotate() {
	callgrind_annotate --threshold=100 --inclusive=no --show-percs=no --auto=no "$work/callgrind.out" |
		tr -d ,
}

# User-space instructions of one run.
instructions() {
	under_valgrind "--tool=callgrind --callgrind-out-file=$work/callgrind.out" "$@"
	annotate | awk '/ PROGRAM TOTALS$/ { print $1 }'
}

heap_allocations() {
	under_valgrind --tool=memcheck "$@"
	sed -n 's/.*total heap usage: \([0-9,]*\) allocs.*/\1/p' "$work/valgrind.txt" | tr -d ,
}

# Instructions of the last callgrind run spent in the named program itself,
# not in the loader, the C library or a preloaded library. Code inlined
# from another file is listed under that file and without an object: the
# function it was inlined into tells whose it is. (A name that several
# objects share, such as their start-up stubs, counts whole; that costs the
# same for any chunk count.)
own_instructions() {
	annotate | awk -v object="[$(realpath "$1")]" '
		/ file:function$/ { body = 1; next }
		body && /^ *[0-9]+  / {
			name = $0
			sub(/^ *[0-9]+  [^:]*:/, "", name)
			sub(/ \[[^]]*\]$/, "", name)
			cost[name] += $1
			if ($NF == object)
				own[name] = 1
		}
		END {
			for (name in own)
				total += cost[name]
			print total + 0
		}'
}

# Per chunk, with the requests faked: "whole-process own-code" instructions.
# The caller's fake array holds the fault-injection environment.
instructions_per_chunk_of() {
	local many many_own one one_own
	many=$(instructions "${fake[@]}" "FAULT_SIZE=$((step * chunks))" -- "$@")
	many_own=$(own_instructions "$1")
	one=$(instructions "${fake[@]}" "FAULT_SIZE=$step" -- "$@")
	one_own=$(own_instructions "$1")
	echo "$(per_chunk "$many" "$one") $(per_chunk "$many_own" "$one_own")"
}

# Seconds one run takes, wall clock.
seconds() {
	local start=$EPOCHREALTIME
	"$@" >/dev/null
	calc "$EPOCHREALTIME - $start"
}

per_chunk() { calc "($1 - $2) / ($chunks - 1)"; }

# 1. The walk should cost the kernel one request per chunk and nothing else,
# verbose or not: the clock is read through the vDSO, and report lines wait
# in the standard output buffer.
system_calls_per_chunk() {
	if ! is_root || ! have strace; then
		row 1 "system calls per chunk" "skipped: needs root and strace" "" "" "= 1" n/a
		return
	fi
	say "1: system calls per chunk (strace)"
	attach calls $((step * chunks))
	local verbose many one start_up=()
	for verbose in "" -v; do
		many=$(syscalls "$SECTRIM" $verbose -p $step "$dev")
		one=$(syscalls "$SECTRIM" $verbose -p $step -l $step "$dev")
		start_up+=($((one - 1)))
		row "1${verbose:+v}" "system calls per chunk, -p $step, $chunks chunks${verbose:+, $verbose}" \
			"$(fixed 4 "$(per_chunk "$many" "$one")")" "" "" "= 1" \
			"$([ $((many - one)) = $((chunks - 1)) ] && echo yes || echo no)"
	done
	row 1s "system calls besides the requests (plain / -v) vs one_line" \
		"${start_up[0]} / ${start_up[1]}" "$(syscalls "$ONE_LINE")" "" "a fixed few" ""
}

# requests_of SIZE COMMAND...: the data requests the command hands the
# kernel for a device of SIZE bytes, one "request start length" line each,
# with the kernel faked away.
requests_of() {
	local size=$1
	shift
	rm -f "$work/requests.log"
	# A sanitizer build of the tool would refuse a library preloaded ahead
	# of its runtime.
	env -i LD_PRELOAD="$FAULT_INJECT" ASAN_OPTIONS=verify_asan_link_order=0 \
		FAULT_FAKE=1 FAULT_SECTOR=$sector FAULT_SIZE="$size" \
		FAULT_LOG="$work/requests.log" "$@" >/dev/null
	[ ! -e "$work/requests.log" ] || awk '/^(DISCARD|ZEROOUT|SECDISCARD) / { print $1, $2, $3 }' "$work/requests.log"
}

# 2. User-space instructions per chunk with the kernel faked away; the
# start-up cancels out of the difference between N chunks and one.
instructions_per_chunk() {
	if ! is_root || ! have valgrind || [ -z "$FAULT_INJECT" ]; then
		row 2 "user instructions per chunk" \
			"skipped: needs root, valgrind and the fault-injection library" "" "" "<= 1.5x" n/a
		return
	fi
	say "2: user-space instructions per chunk (callgrind, requests faked)"
	attach fake 1M
	local fake=(LD_PRELOAD="$FAULT_INJECT" FAULT_FAKE=1 FAULT_SECTOR="$sector")
	local tool_requests loop_requests loop loop_clock tool verbose ratio allocations

	# Instruction counts of the two say nothing about each other unless
	# both hand the kernel the same requests, a short last one included.
	tool_requests=$(requests_of $((10 * step + sector)) "$SECTRIM" -p $step "$dev")
	loop_requests=$(requests_of $((10 * step + sector)) "$CHUNK_LOOP" "$dev" $step discard)
	if [ -z "$tool_requests" ] || [ "$tool_requests" != "$loop_requests" ]; then
		echo "bench: sectrim and chunk_loop do not issue the same requests:" >&2
		diff <(echo "$tool_requests") <(echo "$loop_requests") >&2 || true
		exit 1
	fi

	# Each is "whole process, own code".
	loop=$(instructions_per_chunk_of "$CHUNK_LOOP" "$dev" $step discard)
	loop_clock=$(instructions_per_chunk_of "$CHUNK_LOOP" "$dev" $step discard clock)
	for verbose in "" -v; do
		# shellcheck disable=SC2086
		tool=$(instructions_per_chunk_of "$SECTRIM" $verbose -p $step "$dev")
		ratio=$(calc "${tool% *} / ${loop% *}")
		row "2${verbose:+v}" "user instructions per chunk${verbose:+, $verbose}, vs chunk_loop" \
			"$(fixed 1 "${tool% *}")" "$(fixed 1 "${loop% *}")" "$(fixed 2 "$ratio")" "<= 1.5x" \
			"$(meets "$ratio" "<=" 1.5)"
	done
	row 2c "the same, -v, vs chunk_loop reading the clock after every chunk" \
		"$(fixed 1 "${tool% *}")" "$(fixed 1 "${loop_clock% *}")" \
		"$(fixed 2 "$(calc "${tool% *} / ${loop_clock% *}")")" "" ""
	row 2o "of which the program's own code, -v, vs chunk_loop reading the clock" \
		"$(fixed 1 "${tool#* }")" "$(fixed 1 "${loop_clock#* }")" \
		"$(fixed 2 "$(calc "${tool#* } / ${loop_clock#* }")")" "" ""

	allocations=$(($(heap_allocations "${fake[@]}" "FAULT_SIZE=$((step * chunks))" -- "$SECTRIM" -v -p $step "$dev") -
		$(heap_allocations "${fake[@]}" "FAULT_SIZE=$step" -- "$SECTRIM" -v -p $step "$dev")))
	row 2h "heap allocations per chunk, -v (memcheck)" \
		"$(fixed 4 "$(calc "$allocations / ($chunks - 1)")")" "" "" "0" \
		"$([ "$allocations" = 0 ] && echo yes || echo no)"
}

# 3. Start-up of sectrim -V against a C program printing one line, both
# linked against the same C library, with the same environment.
libraries() {
	# The loader and the vDSO come with every dynamic program.
	ldd "$1" | awk '$1 !~ /^linux-vdso|ld-linux/ { print $1 }' | paste -sd' '
}

stripped_size() {
	strip -o "$work/stripped" "$1"
	stat -c %s "$work/stripped"
}

start_up() {
	say "3: start-up, dependencies, size"
	local tool base ratio
	if have valgrind; then
		tool=$(instructions LC_ALL=C LANG=C -- "$SECTRIM" -V)
		base=$(instructions LC_ALL=C LANG=C -- "$ONE_LINE")
		ratio=$(calc "$tool / $base")
		row 3 "start-up instructions, sectrim -V vs one_line, LC_ALL=C LANG=C" "$tool" "$base" \
			"$(fixed 3 "$ratio")" "<= 1.1x" "$(meets "$ratio" "<=" 1.1)"
		# What the tool has to do before and after its line, in plain C.
		base=$(instructions LC_ALL=C LANG=C -- "$START_FLOOR" -V)
		row 3f "the same vs start_floor: one_line plus the required start-up and exit steps" \
			"$tool" "$base" "$(fixed 3 "$(calc "$tool / $base")")" "" ""
	else
		row 3 "start-up instructions" "skipped: needs valgrind" "" "" "<= 1.1x" n/a
	fi

	tool=$(libraries "$SECTRIM")
	row 3l "shared libraries (ldd, less the loader and the vDSO)" "$tool" "$(libraries "$ONE_LINE")" "" \
		"libc.so.6 alone" "$([ "$tool" = libc.so.6 ] && echo yes || echo no)"

	tool=$(nm "$SECTRIM" | grep -cE '_ZT[ISV]|__gxx_personality|_Unwind_|__cxa_(throw|begin_catch|allocate_exception|guard)' || true)
	row 3r "exception, RTTI and C++ runtime symbols" "$tool" "" "" "0" \
		"$([ "$tool" = 0 ] && echo yes || echo no)"

	tool=$(stripped_size "$SECTRIM")
	base=$(stripped_size "$ONE_LINE")
	row 3s "binary size, stripped (bytes)" "$tool" "$base" "$(fixed 2 "$(calc "$tool / $base")")" "" ""
	row 3t "text + data + bss (bytes)" "$(size "$SECTRIM" | awk 'NR == 2 { print $4 }')" \
		"$(size "$ONE_LINE" | awk 'NR == 2 { print $4 }')" "" "" ""
}

# 4. What a user would run instead, on a 1 GiB device. Every measured run
# starts from a device full of written blocks, synced, so that each side
# frees or overwrites the same real extents.
fill() {
	dd if=/dev/zero of="$dev" bs=1M count=1024 oflag=direct status=none
	sync "$image"
}

against_alternatives() {
	if ! is_root; then
		row 4 "1 GiB device against dd and chunk_loop" "skipped: needs root" "" "" "" n/a
		return
	fi
	say "4: 1 GiB zero-fill against dd ($rounds rounds), discard in 1 MiB steps against chunk_loop ($discard_rounds rounds)"
	local i tool=() dd=() loop=() t d ratio image backing
	attach large 1G
	image=$work/large.img
	fill
	for ((i = 0; i < rounds; i++)); do
		tool+=("$(seconds "$SECTRIM" -z "$dev")")
		dd+=("$(seconds dd if=/dev/zero of="$dev" bs=1M count=1024 oflag=direct status=none)")
		sync "$image"
	done
	t=$(printf '%s\n' "${tool[@]}" | median)
	d=$(printf '%s\n' "${dd[@]}" | median)
	ratio=$(calc "$t / $d")
	row 4z "zero-fill 1 GiB, median s: sectrim -z vs dd bs=1M oflag=direct" "$(fixed 3 "$t")" \
		"$(fixed 3 "$d")" "$(fixed 3 "$ratio")" "< 1" "$(meets "$ratio" "<" 1)"

	# Freeing extents on the disk under /tmp takes from one to several
	# seconds from run to run, which drowns any difference between the two
	# sides; a memory-backed image leaves only the kernel's own work.
	backing=disk
	mkdir "$work/ram"
	if mount -t tmpfs -o size=1100M hostkit-bench "$work/ram"; then
		mounted+=("$work/ram")
		truncate -s 1G "$work/ram/large.img"
		dev=$(losetup -f --show "$work/ram/large.img")
		image=$work/ram/large.img
		backing=memory
	fi
	tool=()
	for ((i = 0; i < discard_rounds; i++)); do
		# Alternate which side goes first.
		if ((i % 2)); then
			fill
			loop+=("$(seconds "$CHUNK_LOOP" "$dev" 1048576 discard)")
		fi
		fill
		tool+=("$(seconds "$SECTRIM" -p 1M "$dev")")
		if ! ((i % 2)); then
			fill
			loop+=("$(seconds "$CHUNK_LOOP" "$dev" 1048576 discard)")
		fi
	done
	t=$(printf '%s\n' "${tool[@]}" | median)
	d=$(printf '%s\n' "${loop[@]}" | median)
	ratio=$(calc "$t / $d")
	row 4d "discard 1 GiB in 1 MiB steps, $backing-backed, median s: sectrim vs chunk_loop" \
		"$(fixed 4 "$t")" "$(fixed 4 "$d")" "$(fixed 2 "$ratio")" "~ 1.0 (<= 1.1x)" \
		"$(meets "$ratio" "<=" 1.1)"
}

# 5. The library's hot paths, each against the bare C library calls under
# it; medians of interleaved repetitions, CPU time.
hot_paths() {
	if [ -z "$HOT_PATHS" ]; then
		row 5 "library hot paths" "skipped: Google Benchmark not built" "" "" "" n/a
		return
	fi
	say "5: library hot paths (Google Benchmark)"
	"$HOT_PATHS" --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true \
		--benchmark_report_aggregates_only=true --benchmark_min_time=0.1 \
		--benchmark_format=csv 2>/dev/null >"$work/hot_paths.csv"
	local id name base limit label lib ref ratio
	# LIMIT is the highest ratio that meets the target; - for none.
	while read -r id name base limit label; do
		lib=$(awk -F, -v n="\"${name}_median\"" '$1 == n { print $4 }' "$work/hot_paths.csv")
		ref=$(awk -F, -v n="\"${base}_median\"" '$1 == n { print $4 }' "$work/hot_paths.csv")
		ratio=$(calc "$lib / $ref")
		if [ "$limit" = - ]; then
			row "$id" "$label, median ns" "$(fixed 1 "$lib")" "$(fixed 1 "$ref")" "$(fixed 2 "$ratio")" "" ""
		else
			row "$id" "$label, median ns" "$(fixed 1 "$lib")" "$(fixed 1 "$ref")" "$(fixed 2 "$ratio")" \
				"<= ${limit}x" "$(meets "$ratio" "<=" "$limit")"
		fi
	done <<'EOF'
5p parse_byte_size_mix strtoumax_digits 2 parse_byte_size on 8 size texts vs strtoumax on their digits
5h human_size_text_mix snprintf_strdup_mix 1.3 human_size_text on 8 counts vs snprintf + strdup
5w next_word_plain strcspn_words - next_word over 4096 words vs a strspn/strcspn walk
5q next_word_quoting strcspn_words - the same with quoting on
5l list_to_ids_long strcspn_list_long - list_to_ids on 4096 tokens vs a strcspn walk
EOF
}

# 5i. The same size pair in instructions, which the machine's load does
# not move: callgrind over 11000 rounds less 1000, so that start-up cancels.
parse_instructions() {
	if [ -z "$HOT_PATHS" ] || ! have valgrind; then
		row 5i "parse_byte_size instructions" "skipped: needs valgrind and Google Benchmark" "" "" "<= 2x" n/a
		return
	fi
	say "5i: parse_byte_size in instructions (callgrind)"
	local side few many ratio per=()
	for side in parse strtoumax; do
		few=$(instructions LC_ALL=C -- "$HOT_PATHS" --rounds 1000 "$side")
		many=$(instructions LC_ALL=C -- "$HOT_PATHS" --rounds 11000 "$side")
		per+=("$(calc "($many - $few) / 10000")")
	done
	ratio=$(calc "${per[0]} / ${per[1]}")
	row 5i "parse_byte_size on 8 size texts vs strtoumax on their digits, instructions a round" \
		"$(fixed 0 "${per[0]}")" "$(fixed 0 "${per[1]}")" "$(fixed 2 "$ratio")" "<= 2x" \
		"$(meets "$ratio" "<=" 2)"
}

main() {
	local build=${1:?usage: bench/run.sh BUILD_DIR}
	# shellcheck source=/dev/null
	. "$build/bench/bench_paths.sh"
	rounds=${BENCH_ROUNDS:-3}
	discard_rounds=${BENCH_DISCARD_ROUNDS:-7}
	# One locale for every program and every number read back.
	export LC_ALL=C
	work=$(mktemp -d /tmp/hostkit-bench.XXXXXX)
	trap cleanup EXIT
	trap 'exit 130' INT
	trap 'exit 143' TERM

	echo "hostkit benchmarks: $(date -u '+%Y-%m-%d %H:%M UTC'), $(uname -srm), $(nproc) cores," \
		"load average $(cut -d' ' -f1-3 /proc/loadavg)"
	system_calls_per_chunk
	instructions_per_chunk
	start_up
	against_alternatives
	hot_paths
	parse_instructions

	echo
	echo "| row | measure | sectrim | yardstick | ratio | target | met |"
	echo "|---|---|---|---|---|---|---|"
	printf '%s\n' "${rows[@]}" | sed 's/|/ | /g; s/  */ /g; s/^ //; s/ $//'
	echo
	echo "targets not met: $unmet"
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
	main "$@"
fi
