#!/bin/sh
# SPDX-License-Identifier: GPL-2.0-or-later
# Install into a scratch DESTDIR, as a distribution package build does, and
# check the tree (exactly these files), the catalogue directory compiled
# into the installed program, that the program and its completion work from
# there, that it needs the C library alone, and that everything naming the
# version names the same one.
# Usage: install_test.sh BUILD_DIR PREFIX VERSION SOURCE_DIR RELEASE [READELF]
# (VERSION the build's, a snapshot's between releases; RELEASE project()'s)
# shellcheck source=tests/support/check.sh
. "$(dirname "$0")/../support/check.sh"
build=$1
prefix=$2
version=$3
src=$4
release=$5
# Any target's readelf, given where the program is built as it ships
# (not instrumented for sanitizers or coverage).
readelf=${6:-}

dest=$(mktemp -d)
trap 'rm -rf "$dest"' EXIT
log=$(DESTDIR=$dest cmake --install "$build" 2>&1)
status=$?
check "cmake --install status" 0 "$status"
[ "$status" -eq 0 ] || printf '%s\n' "$log"
root=$dest$prefix

check "installed files" "$(printf "$prefix/%s\n" sbin/sectrim share/bash-completion/completions/sectrim \
	share/locale/de/LC_MESSAGES/hostkit.mo share/man/man8/sectrim.8 share/zsh/vendor-completions/_sectrim)" \
	"$(cd "$dest" && find . ! -type d | sed 's/^\.//' | LC_ALL=C sort)"

check "version line of the installed program" "sectrim from hostkit $version" \
	"$(LC_ALL=C "$root/sbin/sectrim" --version)"
# The page's footer has no room for a snapshot's full name: it names it up
# to the day.
check "version in the installed manual page's footer" \
	"hostkit $(printf '%s\n' "$version" | sed 's/\(+git[0-9]\{8\}\).*/\1/')" \
	"$(sed -n 's/^\.TH [^"]*"[^"]*" "\([^"]*\)".*/\1/p' "$root/share/man/man8/sectrim.8")"
# The newest debian/changelog entry is the release's, or in a package's
# tree the snapshot's of it; the Debian revision aside.
if [ -f "$src/debian/changelog" ]; then
	deb_version=$(sed -n '1s/^hostkit (\([^)]*\)).*/\1/p' "$src/debian/changelog")
	deb_version=${deb_version%-*}
	check "newest debian/changelog entry, less a snapshot's part" "$release" "${deb_version%%+git*}"
fi
# The tool is built without exceptions and RTTI and links as needed: the
# C++ run time must not come back through a library or a construct. The
# loader comes with every dynamic program, and GCC's own support library
# with its 64-bit division on 32-bit targets (and ARM's unwinding routines).
if [ -n "$readelf" ]; then
	check "shared libraries of the installed program, less the loader and libgcc_s" libc.so.6 \
		"$("$readelf" -d "$root/sbin/sectrim" | sed -n 's/.*(NEEDED).*\[\(.*\)\]$/\1/p' |
			grep -v -e '^ld' -e '^libgcc_s\.' | paste -sd' ')"
	check "exception, RTTI and C++ run-time symbols of the installed program" "" \
		"$("$readelf" -sW "$root/sbin/sectrim" |
			grep -oE '_ZT[ISV]\w*|__gxx_personality\w*|_Unwind_\w*|__cxa_(throw|begin_catch|allocate_exception|guard)\w*' |
			sort -u | paste -sd' ')"
else
	echo "NOTE: no readelf given; the program's libraries and symbols were not checked"
fi
check "catalogue directory compiled into the installed program" yes \
	"$(grep -q -a -F "$prefix/share/locale" "$root/sbin/sectrim" && echo yes)"
check "build tree's catalogue directory kept out of the installed program" no \
	"$(grep -q -a -F "$build/locale" "$root/sbin/sectrim" && echo yes || echo no)"
check "installed catalogue is the one built" same \
	"$(cmp -s "$build/locale/de/LC_MESSAGES/hostkit.mo" \
		"$root/share/locale/de/LC_MESSAGES/hostkit.mo" && echo same)"

# bash-completion loads a command's completion on first use, from
# bash-completion/completions in each data directory.
loader=/usr/share/bash-completion/bash_completion
if [ -f "$loader" ]; then
	check "completion found by bash-completion" "complete -F _sectrim sectrim" \
		"$(XDG_DATA_DIRS="$root/share" bash -c \
			". $loader; __load_completion sectrim; complete -p sectrim" 2>&1)"
else
	echo "NOTE: bash-completion is not installed; its loader was not tried"
fi
finish
