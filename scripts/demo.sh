#!/bin/sh
# SPDX-License-Identifier: GPL-2.0-or-later
# Show sectrim at work on a throwaway 64 MiB loop device: a verbose stepped
# zero-fill and a discard, then proof that the bytes outside both ranges
# still hold the pattern written before. Needs root.
set -eu

sectrim=${1:-build/tool/sectrim}
if [ "$(id -u)" != 0 ]; then
	echo "demo: needs root to attach a loop device" >&2
	exit 1
fi
# shellcheck source=tests/support/loop.sh
. "$(dirname "$0")/../tests/support/loop.sh"

work=$(mktemp -d)
image=$work/disk.img
# An interrupt ends the demo: no step after it may run on a device that is
# gone.
loop_traps "$work"

# Every byte 0xAA, so that zeros and untouched bytes are told apart.
head -c 64M /dev/zero | tr '\000' '\252' >"$image"
dev=$(losetup -f --show "$image")
echo "== attached $dev ($(blockdev --getsize64 "$dev") bytes, sector size $(blockdev --getss "$dev"))"

echo "== $sectrim -v -z -o 1M -l 10M -p 4M $dev"
"$sectrim" -v -z -o 1M -l 10M -p 4M "$dev"
echo "== $sectrim -v -o 32M -l 16M $dev"
"$sectrim" -v -o 32M -l 16M "$dev"

blockdev --flushbufs "$dev"
# count_bytes OFFSET LENGTH BYTE: how many bytes of the range equal BYTE.
count_bytes() {
	dd if="$dev" iflag=direct,skip_bytes,count_bytes skip="$1" count="$2" bs=1M 2>/dev/null |
		tr -cd "$3" | wc -c
}
mib=1048576
echo "== reading the device back with O_DIRECT"
printf '%-28s %10s %s\n' "range" "bytes" "state"
report() {
	n=$(count_bytes "$1" "$2" "$3")
	if [ "$n" -eq "$2" ]; then state=$4; else state="CHANGED ($n of $2 as expected)"; fi
	printf '%-28s %10s %s\n' "$5" "$2" "$state"
	[ "$n" -eq "$2" ]
}
ok=0
report 0 $mib '\252' "pattern intact" "[0, 1M) before the zero-fill" || ok=1
report $mib $((10 * mib)) '\000' "zeros" "[1M, 11M) zero-filled" || ok=1
report $((11 * mib)) $((21 * mib)) '\252' "pattern intact" "[11M, 32M) between" || ok=1
report $((48 * mib)) $((16 * mib)) '\252' "pattern intact" "[48M, 64M) after the discard" || ok=1
exit $ok
