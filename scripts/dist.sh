#!/bin/sh
# SPDX-License-Identifier: GPL-2.0-or-later
# Write the release tarball NAME.tar.xz and its .sha256 into OUT_DIR
# (default build-dist): the files of the commit HEAD, under NAME/, never
# uncommitted changes or untracked files. NAME is version.sh --dist's:
# hostkit-VERSION at the commit tagged vVERSION, a snapshot's name
# elsewhere, whose version the tarball's debian/changelog carries in an
# entry of its own.
# The same commit gives the same bytes wherever it is packed: timestamps
# from the commit (or SOURCE_DATE_EPOCH), names sorted bytewise, owner and
# group 0, modes 644 or 755 after git's executable bit, one xz thread.
# Usage: dist.sh [OUT_DIR]
set -eu
out=${1:-build-dist}
top=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$out"
out=$(cd "$out" && pwd)
cd "$top"

if ! git rev-parse --verify -q HEAD >/dev/null; then
	echo "dist: needs a git checkout with a commit" >&2
	exit 1
fi
name=$(sh scripts/version.sh --dist)
if [ -n "$(git status --porcelain)" ]; then
	echo "dist: warning: changes not committed (git status) are left out: $name.tar.xz holds HEAD," \
		"$(git rev-parse --short=7 HEAD)" >&2
fi
: "${SOURCE_DATE_EPOCH:=$(git log -1 --format=%ct)}"

stage=$out/$name
list=$out/$name.files
trap 'rm -rf "$stage" "$list" "$out/$name.tar"' EXIT
rm -rf "$stage"
mkdir "$stage"
git archive --format=tar HEAD | tar -xf - -C "$stage"
sh scripts/version.sh --changelog >"$stage/debian/changelog"
git ls-tree -r -z --name-only HEAD | LC_ALL=C sort -z >"$list"
tar --create --file="$out/$name.tar" --directory="$stage" --format=gnu --mtime="@$SOURCE_DATE_EPOCH" \
	--owner=0 --group=0 --numeric-owner --mode='u=rwX,go=rX' \
	--transform="flags=r;s,^,$name/," \
	--null --no-recursion --verbatim-files-from --files-from="$list"
xz -9 -T1 --force "$out/$name.tar"
(cd "$out" && sha256sum "$name.tar.xz" >"$name.tar.xz.sha256")
echo "$out/$name.tar.xz"
