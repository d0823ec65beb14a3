#!/bin/sh
# SPDX-License-Identifier: GPL-2.0-or-later
# The project's version, for everything that names it: sectrim -V, the
# manual page, the release tarball and the Debian package.
#
# VERSION is the project() line of the top CMakeLists.txt. A clean checkout
# of the commit tagged vVERSION is the release, VERSION. Anything else is a
# snapshot, VERSION+gitDATE.N.gHASH: DATE the commit's day (UTC), N the
# commits since vVERSION (left out where that tag is not behind HEAD), HASH
# the commit, and .dirty after it when tracked files have uncommitted
# changes. Debian orders a snapshot above VERSION and below any later
# release (0.2.0 < 0.2.0+git20261208.6.g787a1ce < 0.2.1), and snapshots of
# different branches by their date; dots, not hyphens, join the parts,
# since a hyphen would start a Debian revision, which a native package has
# not.
#
# A tree exported from git (the tarball, the package's build tree) carries
# its version in the newest entry of its debian/changelog, which the export
# writes with --changelog.
#
# Usage: version.sh [--release | --dist | --date | --changelog]
#   (none)       the version of this tree
#   --release    VERSION alone, the release this tree leads to or is
#   --dist       the tarball's name, hostkit-VERSION of HEAD (make dist packs HEAD)
#   --date       the manual page's date, YYYY-MM-DD: SOURCE_DATE_EPOCH's, or
#                the changelog's at a release and the commit's at a snapshot
#   --changelog  debian/changelog as HEAD's export carries it
set -eu
top=$(cd "$(dirname "$0")/.." && pwd -P)
release=$(sed -n 's/^project(hostkit VERSION \([0-9][0-9.]*\)[ )].*/\1/p' \
	"$top/CMakeLists.txt")
if [ -z "$release" ]; then
	echo "version.sh: no version in the project() line of CMakeLists.txt" >&2
	exit 1
fi
changelog=$top/debian/changelog
# A checkout that git cannot read (git missing, or a repository another
# user owns) would pass for an exported tree and give a snapshot the
# version of the release.
if [ -e "$top/.git" ] && ! git -C "$top" rev-parse --git-dir >/dev/null; then
	echo "version.sh: cannot read the git checkout $top" >&2
	exit 1
fi

# The top of a checkout, not a tree exported below one (build-deb/hostkit).
in_git() {
	[ "$(git -C "$top" rev-parse --show-toplevel 2>/dev/null)" = "$top" ]
}

# The number of commits from the tag vVERSION to HEAD, or nothing where
# that tag is not behind HEAD.
since_release() {
	described=$(git -C "$top" describe --tags --match "v$release" --long --abbrev=7 HEAD 2>/dev/null) ||
		return 0
	described=${described%-g*}
	echo "${described##*-}"
}

# snapshot [dirty]: HEAD's snapshot version, with .dirty when asked.
snapshot() {
	day=$(TZ=UTC0 git -C "$top" log -1 --format=%cd --date=format-local:%Y%m%d HEAD)
	since=$(since_release)
	echo "$release+git$day${since:+.$since}.g$(git -C "$top" rev-parse --short=7 HEAD)${1:+.dirty}"
}

# version_of head|tree: the version of HEAD, or of the work tree.
version_of() {
	if ! in_git; then
		sed -n '1s/^hostkit (\([^)]*\)).*/\1/p' "$changelog"
	elif [ "$1" = tree ] && ! git -C "$top" diff --quiet HEAD --; then
		snapshot dirty
	elif [ "$(since_release)" = 0 ]; then
		echo "$release"
	else
		snapshot
	fi
}

# The date of the newest changelog entry, in seconds.
changelog_date() {
	date -u -d "$(sed -n 's/^ -- .*>  //p' "$changelog" | head -n 1)" +%s
}

case ${1-} in
'')
	version_of tree
	;;
--release)
	echo "$release"
	;;
--dist)
	echo "hostkit-$(version_of head)"
	;;
--date)
	if [ -z "${SOURCE_DATE_EPOCH-}" ]; then
		if in_git && [ "$(version_of tree)" != "$release" ]; then
			SOURCE_DATE_EPOCH=$(git -C "$top" log -1 --format=%ct HEAD)
		else
			SOURCE_DATE_EPOCH=$(changelog_date)
		fi
	fi
	date -u -d "@$SOURCE_DATE_EPOCH" +%Y-%m-%d
	;;
--changelog)
	version=$(version_of head)
	if [ "$version" != "$release" ]; then
		# The maintainer of the newest entry signs for the snapshot.
		maintainer=$(git -C "$top" show HEAD:debian/changelog | sed -n 's/^ -- \(.*>\)  .*/\1/p' | head -n 1)
		printf '%s\n\n%s\n\n%s\n\n' "hostkit ($version) UNRELEASED; urgency=medium" \
			"  * Snapshot of commit $(git -C "$top" rev-parse HEAD)." \
			" -- $maintainer  $(LC_ALL=C date -u -R -d "@$(git -C "$top" log -1 --format=%ct HEAD)")"
	fi
	git -C "$top" show HEAD:debian/changelog
	;;
*)
	echo "usage: version.sh [--release | --dist | --date | --changelog]" >&2
	exit 2
	;;
esac
