#!/bin/sh
# SPDX-License-Identifier: GPL-2.0-or-later
# Install the Debian packages a target needs, when run as root and they are
# missing. Usage: install-deps.sh GROUP...  (build, test, ...)
set -e

packages_for() {
	case "$1" in
	build) echo "cmake make g++ gettext" ;;
	test) echo "git googletest libgtest-dev libbenchmark-dev locales mount valgrind zsh" ;;
	package) echo "groff-base mandoc bash-completion" ;;
	lint) echo "clang-format clang-tidy cppcheck shellcheck zsh" ;;
	fuzz) echo "clang libclang-rt-14-dev" ;;
	coverage) echo "gcovr" ;;
	bench) echo "strace valgrind libbenchmark-dev binutils" ;;
	dist) echo "git xz-utils" ;;
	vm) echo "qemu-system-x86 busybox-static" ;;
	# The package tools and autopkgtest for the tests of the installed
	# package; the build's own packages come from debian/control below.
	deb) echo "build-essential dpkg-dev lintian autopkgtest" ;;
	*) echo "install-deps.sh: unknown group $1" >&2; exit 2 ;;
	esac
}

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
