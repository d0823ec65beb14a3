# shellcheck shell=sh
# SPDX-License-Identifier: GPL-2.0-or-later
# Loop devices for shell scripts, sourced. A script keeps its images in one
# work directory; at exit every device backed by a file in it is found
# through that file (losetup matches its device and inode) and detached,
# never by a remembered name: an interrupt may come while losetup is still
# attaching, and a name once detached may be another job's device by now.
# Once detached, nothing is left to find, so nothing is detached twice.

# loop_need: return where a loop device can be attached; else say why and
# exit 77 (skipped), or 1 under HOSTKIT_REQUIRE_DEVICES=1.
loop_need() {
	if [ "$(id -u)" != 0 ]; then
		loop_why="not running as root"
	elif [ ! -e /dev/loop-control ]; then
		loop_why="/dev/loop-control is missing"
	elif ! command -v losetup >/dev/null; then
		loop_why="losetup is not installed"
	else
		return 0
	fi
	if [ "${HOSTKIT_REQUIRE_DEVICES:-}" = 1 ]; then
		echo "FAIL: no loop device under HOSTKIT_REQUIRE_DEVICES=1: $loop_why" >&2
		exit 1
	fi
	echo "*** DEVICE TEST NOT RUN: $loop_why ***" >&2
	exit 77
}

# loop_detach_under DIR: detach every loop device on a file under DIR.
loop_detach_under() {
	find "$1" -type f 2>/dev/null | while IFS= read -r image; do
		for d in $(losetup --noheadings --output NAME --associated "$image" 2>/dev/null); do
			losetup --detach "$d" || :
		done
	done
}

# loop_traps DIR: at exit detach what is on files under DIR, then remove it.
# INT and TERM end the script through exit, since sh runs no exit trap when
# a signal ends it.
loop_traps() {
	loop_dir=$1
	trap 'loop_detach_under "$loop_dir"; rm -rf "$loop_dir"' EXIT
	trap 'exit 130' INT
	trap 'exit 143' TERM
}

# loop_attach IMAGE SIZE: IMAGE made SIZE long and attached, its device on
# the standard output; else a message and a failing status.
loop_attach() {
	truncate -s "$2" "$1" && losetup --find --show "$1" && return 0
	echo "cannot attach a loop device over $1" >&2
	return 1
}
