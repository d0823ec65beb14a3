#!/bin/bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Drive the completion function as bash does on <Tab> and check its replies:
# options, nothing for size values, block devices for the device argument.
# Usage: completion_test.sh COMPLETION_FILE TOOL
# shellcheck source=tests/support/check.sh
. "$(dirname "$0")/../support/check.sh"
. "$1"
tool=$2

# Outside a completion bash has no compopt: note what was asked of it.
# shellcheck disable=SC2317 # called by the completion function
compopt() { compopts+=" $*"; }

# replies WORD...: what completing the last word offers, sorted, on one line;
# file names quoted, and directories marked, as bash does when the
# completion asks for that.
replies() {
	COMP_WORDS=("$@")
	COMP_CWORD=$(($# - 1))
	COMPREPLY=()
	local compopts='' reply
	_sectrim
	for reply in "${COMPREPLY[@]}"; do
		if [[ $compopts == *'-o filenames'* ]]; then
			[[ -d $reply ]] && reply+=/
			printf '%q\n' "$reply"
		else
			printf '%s\n' "$reply"
		fi
	done | LC_ALL=C sort | tr '\n' ' ' | sed 's/ *$//'
}

block=$(find /dev -maxdepth 1 -type b -print -quit)
[[ -n $block ]] || { skip "no block device in /dev to offer"; finish; }

# A tree of every kind of entry: only block devices, and directories that
# lead to one, may be offered.
d=$(mktemp -d)
trap 'rm -rf "$d"' EXIT
mkdir -p "$d/nested/deeper" "$d/empty" "$d/my disks" "$d/it's" "$d/raw\\disks"
for dir in . nested/deeper "my disks" "it's" "raw\\disks"; do
	ln -s "$block" "$d/$dir/blk"
done
ln -s /dev/null "$d/chr"
: >"$d/disk.img"
mkfifo "$d/fifo"

all=$(LC_ALL=C "$tool" --help | help_options | tr ' ' '\n' | LC_ALL=C sort |
	tr '\n' ' ' | sed 's/ *$//')

# Words on the line (the last one being completed) | expected replies.
while IFS='|' read -r words expected; do
	eval "set -- $words"
	check "completing [$words]" "$expected" "$(replies "$@")"
done <<CASES
sectrim -|$all
sectrim --ver|--verbose --version
sectrim --o|--offset
sectrim -q|
sectrim -o ''|
sectrim --length ''|
sectrim -p 4|
sectrim --offset = ''|
sectrim --offset =|
sectrim --step = 1|
sectrim --step=1|
sectrim -o1|
sectrim $d/|$d/blk $d/it\'s/ $d/my\ disks/ $d/nested/ $d/raw\\\\disks/
sectrim $d/d|
sectrim $d/e|
sectrim -v $d/b|$d/blk
sectrim -o 1M $d/n|$d/nested/
sectrim --offset = 1M $d/n|$d/nested/
sectrim $d/nested/deeper/|$d/nested/deeper/blk
sectrim $d/blk ''|
sectrim -z $d/blk -v ''|
sectrim $d/blk --z|--zeroout
sectrim -- -|
sectrim -- --z|
sectrim -- $d/b|$d/blk
sectrim -v -- $d/n|$d/nested/
sectrim -- $d/blk ''|
sectrim -- -o ''|
sectrim -o -- $d/b|$d/blk
sectrim $d/my|$d/my\ disks/
sectrim '$d/my\ disks/'|$d/my\ disks/blk
sectrim "'$d/my disks/"|$d/my\ disks/blk
sectrim '"$d/my disks/b'|$d/my\ disks/blk
sectrim "$d/it\\\\'s/"|$d/it\'s/blk
sectrim '$d/raw\\\\disks/'|$d/raw\\\\disks/blk
CASES

# An empty word lists block devices of /dev, and nothing else there.
offered=$(replies sectrim '')
check "$block among the replies to an empty word" "$block" \
	"$([[ " $offered " == *" $block "* ]] && echo "$block" || echo "$offered")"
stray=
for path in $offered; do
	[[ -b $path || ( -d $path && $path == */ ) ]] || stray="$stray $path"
done
check "offered for an empty word but neither block device nor directory" "" "$stray"
finish
