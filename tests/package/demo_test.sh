#!/bin/sh
# SPDX-License-Identifier: GPL-2.0-or-later
# The demo, interrupted while it runs sectrim, ends there with the status
# of the signal, runs no later step, and leaves no loop device behind. A
# stand-in for sectrim records each call and signals the demo.
# Usage: demo_test.sh DEMO_SCRIPT
# shellcheck source=tests/support/check.sh
. "$(dirname "$0")/../support/check.sh"
# shellcheck source=tests/support/loop.sh
. "$(dirname "$0")/../support/loop.sh"
demo=$1
loop_need
work=$(mktemp -d)
loop_traps "$work"

# Loop devices on files under the demo's temporary folder. One that another
# process has open (a concurrent losetup looking for a free one, say) goes
# only when that process closes it: allow it a few seconds.
left_behind() {
	tries=50
	while left=$(losetup --list --noheadings --output NAME,BACK-FILE |
		grep -F " $work/tmp/") && [ "$tries" -gt 0 ]; do
		tries=$((tries - 1))
		sleep 0.1
	done
	printf '%s' "$left"
}

# signal, the call of the stand-in that sends it | expected status
while read -r signal at status; do
	rm -rf "$work/tmp" "$work/calls"
	mkdir "$work/tmp"
	cat >"$work/sectrim" <<EOF
#!/bin/sh
echo "\$*" >>"$work/calls"
[ "\$(wc -l <"$work/calls")" -lt $at ] || kill -$signal \$PPID
EOF
	chmod +x "$work/sectrim"
	# A shell cannot trap a signal that was ignored when it started, as
	# INT is under a runner that starts jobs in the background: give the
	# demo the default dispositions, as a terminal would.
	TMPDIR=$work/tmp env --default-signal=INT,TERM sh "$demo" "$work/sectrim" \
		>"$work/out" 2>&1
	got=$?
	check "demo status after SIG$signal at call $at" "$status" "$got"
	[ "$got" = "$status" ] || sed 's/^/  demo: /' "$work/out"
	check "sectrim calls before SIG$signal at call $at" "$at" "$(wc -l <"$work/calls")"
	check "loop devices left after SIG$signal at call $at" "" "$(left_behind)"
done <<CASES
INT 1 130
TERM 1 143
INT 2 130
TERM 2 143
CASES
finish
