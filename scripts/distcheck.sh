#!/bin/sh
# SPDX-License-Identifier: GPL-2.0-or-later
# Prove that the release tarball alone makes hostkit: unpack it where no
# git checkout is, configure and build out of the source tree, run the
# whole test suite (the device tests too, as root), install into a scratch
# DESTDIR and check the installed files, and fail if the build needed a
# file the tarball lacks or left anything in the unpacked source.
# Usage: distcheck.sh [DIST_DIR]   (the tarball comes from make dist)
set -eu
dist=${1:-build-dist}
top=$(cd "$(dirname "$0")/.." && pwd)
# The name make dist gave the tarball of this checkout, and its version.
name=$(sh "$top/scripts/version.sh" --dist)
version=${name#hostkit-}
release=$(sh "$top/scripts/version.sh" --release)
tarball=$(cd "$dist" && pwd)/$name.tar.xz
if [ ! -f "$tarball" ]; then
	echo "distcheck: $tarball is missing; make dist writes it" >&2
	exit 1
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/hostkit-distcheck.XXXXXX")
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
tar -xJf "$tarball" -C "$work"
src=$work/$name
build=$work/build

# Every name, size, time and mode in the source, to compare afterwards. The
# tree is also made read-only, which stops a stray write at once unless the
# check runs as root.
snapshot() {
	(cd "$src" && find . -printf '%p %y %s %T@ %m\n' | LC_ALL=C sort)
}
chmod -R a-w "$src"
snapshot >"$work/before"

echo "== distcheck: build $tarball out of tree"
cmake -S "$src" -B "$build" -DCMAKE_INSTALL_PREFIX=/usr -DHOSTKIT_WERROR=ON -DBUILD_TESTING=ON
cmake --build "$build" -j"${JOBS:-$(nproc)}"
echo "== distcheck: test suite"
(cd "$build" && ctest --output-on-failure -j"${JOBS:-$(nproc)}")
echo "== distcheck: install into a scratch DESTDIR"
# Against the checkout's version, which the tarball must know without git,
# with the readelf the build found.
readelf=$(sed -n 's/^CMAKE_READELF:FILEPATH=//p' "$build/CMakeCache.txt")
sh "$src/tests/package/install_test.sh" "$build" /usr "$version" "$src" "$release" "$readelf"

snapshot >"$work/after"
if ! diff -u "$work/before" "$work/after"; then
	echo "distcheck: the build or the tests changed the unpacked source (above)" >&2
	exit 1
fi
echo "distcheck: $(basename "$tarball") builds, passes its tests and installs from itself alone"
