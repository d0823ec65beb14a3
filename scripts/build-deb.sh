#!/bin/sh
# SPDX-License-Identifier: GPL-2.0-or-later
# Build the Debian package from a copy of the project's files in OUT, so
# that the build leaves nothing in the source tree, and hold the result to
# lintian: any error or warning fails. The .deb files stay in OUT.
# Usage: build-deb.sh OUT [ARCH]   (JOBS in the environment, else one a processor)
# An ARCH other than the build machine's is cross-built, without the tests.
set -eu
cd "$(dirname "$0")/.."
out=$1
jobs=${JOBS:-$(nproc)}
arch=${2:-$(dpkg --print-architecture)}
src=$out/hostkit

rm -rf "$src"
rm -f "$out"/hostkit_* "$out"/hostkit-dbgsym_*
mkdir -p "$src"
# The tracked files and the new ones git does not ignore, as the work tree
# has them (a tracked file deleted there stays out); without git, all but
# the build trees.
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
	# shellcheck disable=SC2016 # the inner shell expands them
	git ls-files -z --cached --others --exclude-standard |
		xargs -0 sh -c 'for f; do [ -e "$f" ] && printf "%s\0" "$f"; done; true' files |
		tar --null --files-from=- -cf - | tar -xf - -C "$src"
else
	tar --anchored --exclude='./build*' --exclude=./fuzz-out --exclude=./.git -cf - . |
		tar -xf - -C "$src"
fi
cross=
if [ "$arch" != "$(dpkg --print-architecture)" ]; then
	cross="-a$arch -Pcross,nocheck"
	# dpkg-shlibdeps reads the dependencies from the target's C library.
	scripts/cross-deps.sh "$arch" "crossbuild-essential-$arch libc6:$arch"
fi
# shellcheck disable=SC2086 # cross holds several options or none
(cd "$src" && dpkg-buildpackage -us -uc -b -J"$jobs" $cross)
lintian --fail-on error,warning --display-info "$out"/hostkit_*.changes
ls "$out"/*.deb
