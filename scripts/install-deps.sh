#!/bin/sh
# SPDX-License-Identifier: GPL-2.0-or-later
# Install, as root, the Debian packages a make target needs and lacks. As
# another user, or where dpkg or apt-get is missing (another distribution),
# name them and go on: the build then says what else it lacks.
# Usage: install-deps.sh [-a ARCH] GROUP...   (build, test, deb, ...)
# The build's and the tests' packages are debian/control's Build-Depends
# (build: less those marked <!nocheck>), checked by dpkg-checkbuilddeps and
# installed by apt-get build-dep, and the few more below that only the tests
# a package build leaves out need. -a ARCH: for building for another Debian
# architecture, whose packages multiarch installs beside the native ones.
set -eu
cd "$(dirname "$0")/.."
fail() {
	echo "install-deps.sh: $*" >&2
	exit 1
}
arch=
if [ "${1-}" = -a ]; then
	arch=$2
	shift 2
	[ "$arch" != "$(dpkg --print-architecture 2>/dev/null)" ] || arch=
fi

# The packages of GROUP that debian/control does not name.
extras() {
	case $1 in
	# Build-Depends leaves build-essential's compiler and make implicit.
	build) echo g++ make ${arch:+crossbuild-essential-$arch libc6:$arch} ;;
	# The memcheck and loop-device tests, the version test in a checkout
	# and the benchmarks; on another architecture its run-time libraries,
	# and for valgrind on i386 the C library's symbols.
	test)
		echo git mount valgrind strace e2fsprogs "libbenchmark-dev${arch:+:$arch}" ${arch:+libstdc++6:$arch}
		[ "$arch" != i386 ] || echo libc6-dbg:i386
		;;
	lint) echo clang-format clang-tidy cppcheck shellcheck zsh ;;
	fuzz) echo clang libclang-rt-14-dev ;;
	coverage) echo gcovr ;;
	bench) echo python3 strace valgrind libbenchmark-dev binutils ;;
	dist) echo git xz-utils ;;
	vm) echo qemu-system-x86 busybox-static dmsetup ;;
	# The package tools and autopkgtest, for the installed package's tests.
	deb) echo build-essential dpkg-dev lintian autopkgtest ${arch:+crossbuild-essential-$arch libc6:$arch} ;;
	# dch, for the changelog entry of a release.
	release) echo devscripts libdistro-info-perl ;;
	# Runs cross-check's programs that the kernel cannot.
	qemu) echo qemu-user-static ;;
	*)
		echo "install-deps.sh: unknown group $1" >&2
		exit 2
		;;
	esac
}

# Which Build-Depends count: none, nocheck (the build alone), all (the
# tests too, also in a native package build) or cross,nocheck (a package
# cross-built, as build-deb.sh does).
profiles=none
for group; do
	extras "$group" >/dev/null
	case $group:$arch in
	test:* | deb:) profiles= ;;
	deb:*) [ -z "$profiles" ] || profiles=cross,nocheck ;;
	build:*) [ "$profiles" != none ] || profiles=nocheck ;;
	esac
done

# The Build-Depends by name, where dpkg-checkbuilddeps cannot check them.
control_names() {
	sed -n '/^Build-Depends:/,/^[^ ]/{s/^Build-Depends://;/^[^ ]/!p;}' debian/control | tr ',' '\n' |
		case $profiles in *nocheck) grep -v '<!nocheck>' ;; *) cat ;; esac |
		sed -n 's/^ *\([a-z0-9][^ :(<]*\).*/\1/p'
}

unchecked=
control=
# A release tarball carries no debian/ (.gitattributes).
if [ "$profiles" != none ] && [ ! -f debian/control ]; then
	echo "install-deps.sh: no debian/control in this tree; the build's own packages are not checked" >&2
	profiles=none
fi
if [ "$profiles" != none ]; then
	if command -v dpkg-checkbuilddeps >/dev/null; then
		# shellcheck disable=SC2086 # no profile, or one word
		if ! unmet=$(dpkg-checkbuilddeps ${arch:+-a "$arch"} ${profiles:+-P "$profiles"} 2>&1); then
			control=$(echo "$unmet" | sed -n 's/.*Unmet build dependencies: //p')
			[ -n "$control" ] || fail "$unmet"
		fi
	else
		unchecked=yes
		control=$(control_names | tr '\n' ' ')
	fi
	# debhelper drives the package build alone: make check can do without.
	case " $* " in
	*" deb "*) ;;
	*) control=$(echo "$control" | sed 's/debhelper-compat\( ([^)]*)\)*//') ;;
	esac
	control=$(echo "$control" | sed 's/^ *//; s/ *$//')
fi
missing=
for group; do
	for p in $(extras "$group"); do
		case " $missing " in *" $p "*) continue ;; esac
		if ! command -v dpkg-query >/dev/null; then
			unchecked=yes
		elif dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null | grep -qx installed; then
			continue
		fi
		missing="$missing $p"
	done
done
missing=${missing# }
[ -n "$missing$control" ] || exit 0

needed="$missing${missing:+${control:+ }}$control"
if [ -n "$unchecked" ] || ! command -v apt-get >/dev/null; then
	echo "install-deps.sh: no dpkg or apt-get here to check or install packages;" \
		"make sure these, by their Debian names, are installed: $needed" >&2
	exit 0
fi
if [ "$(id -u)" != 0 ]; then
	echo "install-deps.sh: missing Debian packages: $needed (run as root to install them)" >&2
	exit 0
fi
export DEBIAN_FRONTEND=noninteractive
if [ -n "$arch" ] && ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
	dpkg --add-architecture "$arch"
fi
apt-get update -q
# shellcheck disable=SC2086 # one word per package
[ -z "$missing" ] || apt-get install -y -q --no-install-recommends $missing
[ -z "$control" ] ||
	apt-get build-dep -y -q --no-install-recommends ${arch:+-a "$arch"} ${profiles:+-P "$profiles"} ./
