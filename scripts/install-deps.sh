#!/bin/sh
# SPDX-License-Identifier: GPL-2.0-or-later
# Install the Debian packages a target needs, when run as root and they are
# missing. Usage: install-deps.sh GROUP...  (build, test, ...)
set -e

packages_for() {
	case "$1" in
	build) echo "cmake make g++ gettext" ;;
	test) echo "googletest libgtest-dev locales mount valgrind zsh" ;;
	package) echo "groff-base mandoc bash-completion" ;;
	lint) echo "clang-format clang-tidy cppcheck" ;;
	fuzz) echo "clang libclang-rt-14-dev" ;;
	coverage) echo "gcovr" ;;
	bench) echo "strace valgrind libbenchmark-dev binutils" ;;
	dist) echo "git xz-utils" ;;
	# The package tools, debian/control's Build-Depends, and autopkgtest
	# for the tests of the installed package.
	deb) echo "build-essential dpkg-dev debhelper lintian autopkgtest \
		cmake gettext libgtest-dev locales groff-base bash-completion zsh" ;;
	*) echo "install-deps.sh: unknown group $1" >&2; exit 2 ;;
	esac
}

missing=
for group in "$@"; do
	for p in $(packages_for "$group"); do
		dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' ||
			missing="$missing $p"
	done
done
[ -n "$missing" ] || exit 0
if [ "$(id -u)" != 0 ]; then
	echo "missing Debian packages:$missing (run as root to install them)" >&2
	exit 0
fi
apt-get update -q
DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends $missing
