#!/bin/sh
# SPDX-License-Identifier: GPL-2.0-or-later
# The version in every state of a checkout, in a scratch repository: the
# release tarball's name (HEAD's), the work tree's version, the manual
# page's date, and the version and date of HEAD's git archive, which knows
# them without git. VERSION only at the commit tagged vVERSION; a snapshot
# has a name of its own everywhere else, which Debian orders between
# releases.
# Usage: version_test.sh VERSION_SCRIPT (an absolute path, in a checkout)
# shellcheck source=tests/support/check.sh
. "$(dirname "$0")/../support/check.sh"
# A package build sets it; the rows set it themselves.
unset SOURCE_DATE_EPOCH
repo=$(mktemp -d)
trap 'rm -rf "$repo"' EXIT
cd "$repo" || exit 1
mkdir scripts && cp "$1" scripts/version.sh && cp "$(dirname "$1")/../.gitattributes" . || exit 1
git init -q && git config user.name test && git config user.email test@localhost
echo 'project(hostkit VERSION 1.2.0 LANGUAGES C)' >CMakeLists.txt
echo 'build*/' >.gitignore
git add . && GIT_COMMITTER_DATE=2026-12-01T23:30:00-02:00 git commit -qm one

# The version and date of HEAD's git archive, unpacked below the checkout
# as make deb does.
export_version() {
	rm -rf build && mkdir -p build/tree && git archive HEAD | tar -xmf - -C build/tree &&
		echo "$(sh build/tree/scripts/version.sh) $(sh build/tree/scripts/version.sh --date)"
}

# The state of the checkout, as commands | the tarball's name | the work
# tree's version | the page's date | the archive's version and date. H
# stands for the commit; the first was made on 2026-12-02 in UTC.
while IFS='|' read -r setup name version date exported; do
	eval "$setup"
	hash=$(git rev-parse --short=7 HEAD)
	check "tarball name after [$setup]" "hostkit-$(echo "$name" | sed "s/H/$hash/")" \
		"$(sh scripts/version.sh --dist 2>&1)"
	check "version after [$setup]" "$(echo "$version" | sed "s/H/$hash/")" "$(sh scripts/version.sh 2>&1)"
	check "page date after [$setup]" "$date" "$(sh scripts/version.sh --date 2>&1)"
	check "archive after [$setup]" "$(echo "$exported" | sed "s/H/$hash/")" "$(export_version 2>&1)"
done <<CASES
:|1.2.0+git20261202.gH|1.2.0+git20261202.gH|2026-12-02|1.2.0+git20261202.gH 2026-12-02
echo '# local' >>CMakeLists.txt|1.2.0+git20261202.gH|1.2.0+git20261202.gH.dirty|2026-12-02|1.2.0+git20261202.gH 2026-12-02
git checkout -q CMakeLists.txt; git tag -a v1.2.0 -m 1.2.0|1.2.0|1.2.0|2026-12-02|1.2.0 2026-12-02
echo '# local' >>CMakeLists.txt|1.2.0|1.2.0+git20261202.0.gH.dirty|2026-12-02|1.2.0 2026-12-02
git checkout -q CMakeLists.txt; GIT_COMMITTER_DATE=2026-12-03T00:00:00Z git commit -q --allow-empty -m two|1.2.0+git20261203.1.gH|1.2.0+git20261203.1.gH|2026-12-03|1.2.0+git20261203.1.gH 2026-12-03
git tag -a build-7 -m build-7|1.2.0+git20261203.1.gH|1.2.0+git20261203.1.gH|2026-12-03|1.2.0+git20261203.1.gH 2026-12-03
export SOURCE_DATE_EPOCH=86399|1.2.0+git20261203.1.gH|1.2.0+git20261203.1.gH|1970-01-01|1.2.0+git20261203.1.gH 1970-01-01
sed -i s/1.2.0/1.3.0/ CMakeLists.txt; GIT_COMMITTER_DATE=2026-12-03T00:00:00Z git commit -qam three|1.3.0+git20261203.gH|1.3.0+git20261203.gH|1970-01-01|1.3.0+git20261203.gH 1970-01-01
CASES

# Debian's order: the release, a snapshot after it, the next release.
git checkout -q HEAD~
snapshot=$(sh scripts/version.sh)
if command -v dpkg >/dev/null; then
	check "1.2.0-1 < $snapshot-1 < 1.2.1-1" yes \
		"$(dpkg --compare-versions 1.2.0-1 lt "$snapshot-1" && dpkg --compare-versions "$snapshot-1" lt 1.2.1-1 && echo yes)"
else
	skip "no dpkg to order the versions"
fi
check "status in a checkout git cannot read" 1 "$(GIT_DIR=/nonexistent sh scripts/version.sh >/dev/null 2>&1; echo $?)"
finish
