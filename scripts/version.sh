#!/bin/sh
# SPDX-License-Identifier: GPL-2.0-or-later
# Print the project's version. It has one source, the project() line of the
# top CMakeLists.txt; scripts that need it outside CMake ask here.
set -eu
version=$(sed -n 's/^project(hostkit VERSION \([0-9][0-9.]*\)[ )].*/\1/p' \
	"$(dirname "$0")/../CMakeLists.txt")
if [ -z "$version" ]; then
	echo "version.sh: no version in the project() line of CMakeLists.txt" >&2
	exit 1
fi
echo "$version"
