#!/bin/sh
# SPDX-License-Identifier: GPL-2.0-or-later
# Build the Debian package from the release tarball of HEAD (dist.sh), so
# that only what was committed reaches it, never an uncommitted change or
# an untracked file; the tarball's debian/changelog carries the version,
# a snapshot's too. The tree is unpacked in OUT/hostkit, the source tree
# stays as it was, and lintian holds the result to account: any error or
# warning fails. The .deb files stay in OUT, those of other architectures
# too.
# Usage: build-deb.sh OUT [ARCH]   (JOBS in the environment, else one a processor)
# An ARCH other than the build machine's is cross-built, without the tests.
set -eu
cd "$(dirname "$0")/.."
out=$1
jobs=${JOBS:-$(nproc)}
arch=${2:-$(dpkg --print-architecture)}
src=$out/hostkit

tarball=$(sh scripts/dist.sh "$out")
rm -rf "$src"
mkdir -p "$src"
tar -xJf "$tarball" -C "$src" --strip-components=1
rm -f "$tarball" "$tarball.sha256"
echo "deb: hostkit $(dpkg-parsechangelog -l "$src/debian/changelog" -S Version) for $arch," \
	"from commit $(git rev-parse --short=7 HEAD)"
rm -f "$out"/hostkit_*_"$arch".* "$out"/hostkit-dbgsym_*_"$arch".*

cross=
if [ "$arch" != "$(dpkg --print-architecture)" ]; then
	cross="-a$arch -Pcross,nocheck"
	# dpkg-shlibdeps reads the dependencies from the target's C library.
	scripts/cross-deps.sh "$arch" "crossbuild-essential-$arch libc6:$arch"
fi
# shellcheck disable=SC2086 # cross holds several options or none
(cd "$src" && dpkg-buildpackage -us -uc -b -J"$jobs" $cross)
lintian --fail-on error,warning --display-info "$out"/hostkit_*_"$arch".changes
ls "$out"/*_"$arch".deb
