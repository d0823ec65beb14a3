#!/bin/sh
# SPDX-License-Identifier: GPL-2.0-or-later
# Install the Debian packages a target needs, when run as root and they are
# missing; with --list, only name them, one a line.
# Usage: install-deps.sh [--list] GROUP...  (build, test, ...)
# The build's and the tests' packages are those debian/control's
# Build-Depends names, so that the two cannot differ: build, the entries
# without a build profile; test, those marked <!nocheck>, and the few that
# only the tests a package build leaves out need.
set -e
cd "$(dirname "$0")/.."

# build_depends build|test: the names of the Build-Depends entries without
# a build profile, or of those marked <!nocheck>.
build_depends() {
	awk -v want="$1" '
		/^[^ \t#]/ { on = /^Build-Depends:/; sub(/^Build-Depends:/, "") }
		on { text = text $0 }
		END {
			n = split(text, entries, ",")
			for (i = 1; i <= n; i++) {
				if (!match(entries[i], /[a-z0-9][a-z0-9.+-]*/))
					continue
				name = substr(entries[i], RSTART, RLENGTH)
				if ((entries[i] ~ /<!nocheck>/ ? "test" : "build") == want && name != "debhelper-compat")
					print name
			}
		}' debian/control
}

packages_for() {
	case "$1" in
	# Build-Depends leaves build-essential's compiler and make implicit.
	build) echo "$(build_depends build) g++ make" ;;
	# The memcheck and loop-device tests and the benchmarks, which the
	# package build leaves out, need a few more.
	test) echo "$(build_depends test) libbenchmark-dev mount valgrind" ;;
	lint) echo "clang-format clang-tidy cppcheck shellcheck zsh" ;;
	fuzz) echo "clang libclang-rt-14-dev" ;;
	coverage) echo "gcovr" ;;
	bench) echo "strace valgrind libbenchmark-dev binutils" ;;
	dist) echo "git xz-utils" ;;
	vm) echo "qemu-system-x86 busybox-static dmsetup" ;;
	# The package tools and autopkgtest for the tests of the installed
	# package; the build's own packages come from debian/control below.
	deb) echo "build-essential dpkg-dev lintian autopkgtest" ;;
	# dch, for the changelog entry of a release.
	release) echo "devscripts libdistro-info-perl" ;;
	*) echo "install-deps.sh: unknown group $1" >&2; exit 2 ;;
	esac
}

if [ "$1" = --list ]; then
	shift
	for group in "$@"; do
		packages_for "$group"
	done | tr ' ' '\n' | grep .
	exit 0
fi

missing=
build_depends=
for group in "$@"; do
	for p in $(packages_for "$group"); do
		dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' ||
			missing="$missing $p"
	done
	[ "$group" != deb ] || build_depends=yes
done
# The package build's own needs, as debian/control states them, once
# dpkg-dev is there to check them.
if [ -n "$build_depends" ] && [ -z "$missing" ] && dpkg-checkbuilddeps >/dev/null 2>&1; then
	build_depends=
fi
[ -n "$missing$build_depends" ] || exit 0
if [ "$(id -u)" != 0 ]; then
	echo "missing Debian packages:$missing${build_depends:+ and the Build-Depends of debian/control}" \
		"(run as root to install them)" >&2
	exit 0
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
# shellcheck disable=SC2086 # one word per package
[ -z "$missing" ] || apt-get install -y -q --no-install-recommends $missing
[ -z "$build_depends" ] || apt-get build-dep -y -q --no-install-recommends ./
