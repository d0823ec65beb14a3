#!/bin/sh
# SPDX-License-Identifier: GPL-2.0-or-later
# Run every libFuzzer target for a share of TOTAL seconds (default 300).
# New inputs go to the build tree; a crash leaves its input in fuzz-out/,
# to be added to fuzz/corpus/NAME/ as a regression case once fixed.
set -eu
total=${1:-300}
build=${FUZZ_BUILD:-build-fuzz}

CC=clang CXX=clang++ cmake -S . -B "$build" -DHOSTKIT_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j"${JOBS:-$(nproc)}"

# The list comes from fuzz/CMakeLists.txt, written out by the configure step.
targets=$(cat "$build/fuzz_targets.txt")
count=$(echo "$targets" | wc -w)
if [ "$count" -eq 0 ]; then
	echo "fuzz: no targets in $build/fuzz_targets.txt" >&2
	exit 1
fi
each=$((total / count))
[ "$each" -ge 1 ] || each=1
mkdir -p fuzz-out
status=0
for t in $targets; do
	work="$build/corpus/$t"
	mkdir -p "$work"
	printf '%-16s ' "$t"
	if "$build/fuzz/${t}_fuzz" -max_total_time="$each" -print_final_stats=1 \
		-artifact_prefix="fuzz-out/$t-" "$work" "fuzz/corpus/$t" >"$build/$t.log" 2>&1; then
		sed -n 's/^stat::number_of_executed_units: *\([0-9]*\)/\1 executions/p' "$build/$t.log"
	else
		echo "FAILED (see $build/$t.log and fuzz-out/)"
		status=1
	fi
done
exit $status
