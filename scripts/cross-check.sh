#!/bin/sh
# SPDX-License-Identifier: GPL-2.0-or-later
# Build the project and its test suite for another Debian architecture and
# run the whole suite there: natively where the kernel runs the target's
# programs (i386 on amd64, where the kernel has its 32-bit layer), under
# qemu-user otherwise. As root it first
# installs what it needs through multiarch, beside the native packages.
# Device tests must run: HOSTKIT_REQUIRE_DEVICES=1 makes one that cannot
# get a loop device fail.
# Usage: cross-check.sh ARCH [BUILD_DIR]   (JOBS in the environment, else one a processor)
# WERROR=OFF in the environment lets warnings pass.
set -eu
cd "$(dirname "$0")/.."
arch=${1:?usage: cross-check.sh ARCH [BUILD_DIR]}
build=${2:-build-cross-$arch}
jobs=${JOBS:-$(nproc)}

build_arch=$(dpkg --print-architecture)
cpu=$(dpkg-architecture -a"$arch" -qDEB_HOST_GNU_CPU)
# qemu names a few processors differently from the GNU triplet.
case $cpu in
arm) qemu=arm ;;
powerpc64le) qemu=ppc64le ;;
*) qemu=$cpu ;;
esac
case $build_arch:$arch in
"$arch:$arch" | amd64:i386) qemu= ;;
esac

# The target's compilers and run-time libraries, its build of every library
# make check builds against, and the native tools of make check; qemu-user
# where the kernel may not run the target's programs.
groups="build test"
[ -z "$qemu" ] && [ "$arch" != i386 ] || groups="$groups qemu"
# shellcheck disable=SC2086 # one word per group
scripts/install-deps.sh -a "$arch" $groups

# An amd64 kernel built or booted without its 32-bit layer refuses i386
# programs: qemu-user runs them then. A 32-bit program that the kernel runs
# itself is told the 64-bit machine; under qemu it is told i686.
if [ "$build_arch:$arch:$qemu" = amd64:i386: ]; then
	probe=$(mktemp)
	printf '#include <stdio.h>\n#include <sys/utsname.h>\nint main(void) { struct utsname u; return uname(&u) || puts(u.machine) < 0; }\n' |
		"$(dpkg-architecture -a"$arch" -qDEB_HOST_GNU_TYPE)-gcc" -static -x c - -o "$probe"
	[ "$("$probe" 2>/dev/null)" = x86_64 ] || qemu=i386
	rm -f "$probe"
fi

# A test that runs the tool, or a shell script that does, needs the kernel
# to hand the foreign program to qemu. It must be the static qemu: a
# dynamic one starts with the build machine's loader, which objects on
# standard error to the target's libraries in LD_PRELOAD.
if [ -n "$qemu" ]; then
	binfmt=/proc/sys/fs/binfmt_misc
	entry=$binfmt/qemu-$qemu
	conf=$(cat "/usr/lib/binfmt.d/qemu-$qemu.conf" 2>/dev/null) || conf=
	# qemu-user-static registers no i386 entry on amd64: i386's ELF
	# header, executables and shared objects alike, with the flags of
	# the others (P keeps argv[0], which the tool names itself by).
	if [ -z "$conf" ] && [ "$qemu" = i386 ]; then
		conf=':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
		conf="$conf:"'\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
		conf="$conf:/usr/bin/qemu-i386-static:OPF"
	fi
	[ -e $binfmt/register ] || mount -t binfmt_misc binfmt_misc $binfmt
	if ! grep -qx enabled "$entry" 2>/dev/null ||
		! grep -qx "interpreter $(printf "%s\n" "$conf" | cut -d: -f7)" "$entry"; then
		[ ! -e "$entry" ] || echo -1 >"$entry"
		printf "%s\n" "$conf" >$binfmt/register
	fi
fi

cmake -S . -B "$build" --toolchain "$PWD/cmake/cross-toolchain.cmake" -DHOSTKIT_ARCH="$arch" \
	-DCMAKE_CROSSCOMPILING_EMULATOR="${qemu:+/usr/bin/qemu-$qemu-static}" \
	-DHOSTKIT_WERROR="${WERROR:-ON}" -DBUILD_TESTING=ON
cmake --build "$build" -j"$jobs"

cd "$build"
HOSTKIT_REQUIRE_DEVICES=1 ctest --output-on-failure --no-tests=error -j"$jobs"
