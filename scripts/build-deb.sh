#!/bin/sh
# SPDX-License-Identifier: GPL-2.0-or-later
# Build the Debian package of HEAD as a 3.0 (quilt) source package: the
# release tarball of HEAD (dist.sh), which holds what was committed and
# nothing else, is the orig tarball, unpacked in OUT/hostkit-UPSTREAM with
# HEAD's debian/ added. Between releases that debian/changelog gains an
# entry for the snapshot, UPSTREAM-1. lintian holds the result to account:
# any error or warning fails. The .deb files stay in OUT, those of other
# architectures too.
# Usage: build-deb.sh OUT [ARCH]   (JOBS in the environment, else one a processor)
# An ARCH other than the build machine's is cross-built, binaries alone and
# without the tests.
set -eu
cd "$(dirname "$0")/.."
out=$1
jobs=${JOBS:-$(nproc)}
native=$(dpkg --print-architecture)
arch=${2:-$native}

tarball=$(sh scripts/dist.sh "$out")
name=$(basename "$tarball" .tar.xz)
upstream=${name#hostkit-}
src=$out/$name
rm -rf "$src"
tar -xJf "$tarball" -C "$out"
# The packaging of the same commit, which the tarball leaves out.
git archive --prefix="$name/debian/" HEAD:debian | tar -xf - -C "$out"
# dpkg-source looks for the orig tarball by this name beside the tree.
mv "$tarball" "$out/hostkit_$upstream.orig.tar.xz"
rm -f "$tarball.sha256"
# What builds of other versions left of their source packages.
for f in "$out"/hostkit-*/ "$out"/hostkit_*.orig.tar.xz "$out"/hostkit_*.dsc "$out"/hostkit_*.debian.tar.xz; do
	case $f in "$src/" | "$out/hostkit_$upstream"[.-]*) ;; *) rm -rf "$f" ;; esac
done

changelog=$src/debian/changelog
newest=$(dpkg-parsechangelog -l "$changelog" -S Version)
if [ "${newest%-*}" != "$upstream" ]; then
	# The maintainer of the newest entry signs for the snapshot, dated at
	# the commit, so that the same commit makes the same package.
	{
		printf '%s\n\n  * %s\n\n -- %s  %s\n\n' "hostkit ($upstream-1) UNRELEASED; urgency=medium" \
			"Snapshot of commit $(git rev-parse HEAD)." "$(dpkg-parsechangelog -l "$changelog" -S Maintainer)" \
			"$(LC_ALL=C date -u -R -d "@$(git log -1 --format=%ct HEAD)")"
		cat "$changelog"
	} >"$changelog.new"
	mv "$changelog.new" "$changelog"
fi
echo "deb: hostkit $(dpkg-parsechangelog -l "$changelog" -S Version) for $arch," \
	"from commit $(git rev-parse --short=7 HEAD)"
rm -f "$out"/hostkit_*_"$arch".* "$out"/hostkit-dbgsym_*_"$arch".*

# The source package with the native build, lintian checking both.
options="-J$jobs"
[ "$arch" = "$native" ] || options="$options -B -a$arch -Pcross,nocheck"
# shellcheck disable=SC2086 # several options
(cd "$src" && dpkg-buildpackage -us -uc $options)
lintian --fail-on error,warning --display-info "$out"/hostkit_*_"$arch".changes
ls "$out"/*_"$arch".deb
