#!/bin/sh
# SPDX-License-Identifier: GPL-2.0-or-later
# The project's version, for everything that names it: sectrim -V, the
# manual page, the release tarball and the Debian package.
#
# VERSION is the project() line of the top CMakeLists.txt. The commit tagged
# vVERSION is the release, VERSION. Any other commit is a snapshot,
# VERSION+gitDATE.N.gHASH: DATE the commit's day (UTC), N the commits since
# vVERSION (left out where that is not the release tag nearest behind it),
# HASH the commit; a work tree with uncommitted changes adds .dirty. Debian
# orders a snapshot above VERSION and below any later release
# (0.2.0-1 < 0.2.0+git20261208.6.g787a1ce-1 < 0.2.1-1), and snapshots of
# different branches by their date.
#
# git archive fills in the stamp below (export-subst, .gitattributes), so
# that the release tarball, unpacked without git, knows its commit; in a
# checkout git log reads the same fields.
#
# Usage: version.sh [--release | --dist | --date]
#   (none)     the version of this tree
#   --release  VERSION alone
#   --dist     the tarball's name, hostkit-VERSION of HEAD (make dist packs HEAD)
#   --date     the manual page's date, YYYY-MM-DD: SOURCE_DATE_EPOCH's, else the commit's
set -eu
# shellcheck disable=SC2016 # git archive expands it, not the shell
stamp='$Format:%ct %H %(describe:match=v[0-9]*)$'
option=${1-}
top=$(cd "$(dirname "$0")/.." && pwd -P)
fail() {
	echo "version.sh: $*" >&2
	exit 1
}
release=$(sed -n 's/^project(hostkit VERSION \([0-9][0-9.]*\)[ )].*/\1/p' "$top/CMakeLists.txt")
[ -n "$release" ] || fail "no version in the project() line of CMakeLists.txt"

dirty=
case $stamp in
[0-9]*) ;;
*)
	# Not filled in, so a checkout; one that git cannot read (git missing,
	# or a repository another user owns) must not pass for any version.
	[ "$(git -C "$top" rev-parse --show-toplevel 2>/dev/null)" = "$top" ] ||
		fail "$top is neither a git checkout that git can read nor a tree from git archive"
	format=${stamp#?Format:}
	stamp=$(git -C "$top" log -1 --format="${format%?}" HEAD)
	git -C "$top" diff --quiet HEAD -- || dirty=.dirty
	;;
esac
# shellcheck disable=SC2086 # the stamp's fields: time, commit, description
set -- $stamp
# The description is vVERSION at the tag and vVERSION-N-gHASH after it.
case ${3-} in
"v$release") since=0 ;;
"v$release"-*-g*) since=${3#"v$release"-} since=${since%-g*} ;;
*) since= ;;
esac
case $since in *[!0-9]*) since= ;; esac
snapshot=$release+git$(date -u -d "@$1" +%Y%m%d)${since:+.$since}.g$(echo "$2" | cut -c1-7)
head=$snapshot
[ "$since" != 0 ] || head=$release

case $option in
'') if [ -z "$dirty" ]; then echo "$head"; else echo "$snapshot$dirty"; fi ;;
--release) echo "$release" ;;
--dist) echo "hostkit-$head" ;;
--date) date -u -d "@${SOURCE_DATE_EPOCH:-$1}" +%Y-%m-%d ;;
*)
	echo "usage: version.sh [--release | --dist | --date]" >&2
	exit 2
	;;
esac
