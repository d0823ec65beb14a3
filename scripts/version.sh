#!/bin/sh
# SPDX-License-Identifier: GPL-2.0-or-later
# Print the project's version. It has one source, the project() line of the
# top CMakeLists.txt; scripts that need it outside CMake ask here.
# With --dist, print the name of the release tarball this checkout makes:
# hostkit-VERSION only at the commit tagged vVERSION without uncommitted
# changes; elsewhere git describe's name of the commit, or VERSION-gHASH
# where no tag leads to it, and -dirty for uncommitted changes, so that two
# different tarballs never share a name.
# Usage: version.sh [--dist]
set -eu
top=$(dirname "$0")/..
version=$(sed -n 's/^project(hostkit VERSION \([0-9][0-9.]*\)[ )].*/\1/p' \
	"$top/CMakeLists.txt")
if [ -z "$version" ]; then
	echo "version.sh: no version in the project() line of CMakeLists.txt" >&2
	exit 1
fi
if [ "${1-}" != --dist ]; then
	echo "$version"
	exit 0
fi

cd "$top"
if name=$(git describe --tags --match 'v[0-9]*' --long --dirty --abbrev=7 2>/dev/null); then
	# --long spells out a tagged commit too (v1.0-0-gHASH), so a tag that
	# is not this version's gets a name of its own.
	case $name in
	"v$version"-0-g*-dirty) ;;
	"v$version"-0-g*) name=$version ;;
	esac
	name=${name#v}
else
	name=$version-g$(git rev-parse --short=7 HEAD)
	git diff --quiet HEAD -- || name=$name-dirty
fi
echo "hostkit-$name"
