#!/bin/sh
# SPDX-License-Identifier: GPL-2.0-or-later
# Write the release tarball NAME.tar.xz and its .sha256 into OUT_DIR
# (default build-dist): git archive of the commit HEAD under NAME/, never
# uncommitted changes or untracked files. NAME is version.sh --dist's:
# hostkit-VERSION at the commit tagged vVERSION, a snapshot's name
# elsewhere. git archive writes the commit into the version script's stamp,
# so that the unpacked tree knows its version without git.
# The same commit gives the same bytes wherever it is packed: git archive
# takes every time from the commit, owner and group 0 and, with tar.umask
# 022, modes 644 or 755 after git's executable bit; xz runs in one thread.
# Anyone can remake the tarball of a tag from the tag alone:
#   git -c tar.umask=0022 archive --prefix=hostkit-VERSION/ vVERSION | xz -9 -T1
# Usage: dist.sh [OUT_DIR]
set -eu
out=${1:-build-dist}
mkdir -p "$out"
out=$(cd "$out" && pwd)
cd "$(dirname "$0")/.."

if ! git rev-parse --verify -q HEAD >/dev/null; then
	echo "dist: needs a git checkout with a commit" >&2
	exit 1
fi
name=$(sh scripts/version.sh --dist)
if [ -n "$(git status --porcelain)" ]; then
	echo "dist: warning: changes not committed (git status) are left out: $name.tar.xz holds HEAD," \
		"$(git rev-parse --short=7 HEAD)" >&2
fi
git -c tar.umask=0022 archive --format=tar --prefix="$name/" -o "$out/$name.tar" HEAD
xz -9 -T1 --force "$out/$name.tar"
(cd "$out" && sha256sum "$name.tar.xz" >"$name.tar.xz.sha256")
echo "$out/$name.tar.xz"
