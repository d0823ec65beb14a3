#!/bin/sh
# SPDX-License-Identifier: GPL-2.0-or-later
# The version in every state of a checkout, in a scratch repository: the
# release tarball's name (HEAD's), the work tree's version, the manual
# page's date, and the version and date a tree exported from HEAD carries
# without git. VERSION only at the commit tagged vVERSION; a snapshot has a
# name of its own everywhere else.
# Usage: version_test.sh VERSION_SCRIPT (an absolute path)
# shellcheck source=tests/support/check.sh
. "$(dirname "$0")/../support/check.sh"
# A package build sets it; the rows set it themselves.
unset SOURCE_DATE_EPOCH
repo=$(mktemp -d)
trap 'rm -rf "$repo"' EXIT
cd "$repo" || exit 1
mkdir scripts debian && cp "$1" scripts/version.sh || exit 1
git init -q && git config user.name test && git config user.email test@localhost
echo 'project(hostkit VERSION 1.2.0 LANGUAGES C)' >CMakeLists.txt
echo 'build*/' >.gitignore
cat >debian/changelog <<'END'
hostkit (1.2.0) unstable; urgency=medium

  * Release.

 -- Maintainers <maintainers@localhost>  Mon, 30 Nov 2026 10:00:00 +0000
END
git add . && GIT_COMMITTER_DATE=2026-12-01T23:30:00-02:00 git commit -qm one

# export: the version and date of HEAD's files exported below the checkout,
# as make deb does, with the changelog the export writes.
export_version() {
	rm -rf build && mkdir -p build/tree && git archive HEAD | tar -xmf - -C build/tree &&
		sh scripts/version.sh --changelog >build/tree/debian/changelog &&
		echo "$(sh build/tree/scripts/version.sh) $(sh build/tree/scripts/version.sh --date)"
}

# The state of the checkout, as commands | the tarball's name | the work
# tree's version | the page's date | the export's version and date. H
# stands for the commit; it was made on 2026-12-02 in UTC.
while IFS='|' read -r setup name version date exported; do
	eval "$setup"
	hash=$(git rev-parse --short=7 HEAD)
	check "tarball name after [$setup]" "hostkit-$(echo "$name" | sed "s/H/$hash/")" \
		"$(sh scripts/version.sh --dist 2>&1)"
	check "version after [$setup]" "$(echo "$version" | sed "s/H/$hash/")" "$(sh scripts/version.sh 2>&1)"
	check "page date after [$setup]" "$date" "$(sh scripts/version.sh --date 2>&1)"
	check "export after [$setup]" "$(echo "$exported" | sed "s/H/$hash/")" "$(export_version 2>&1)"
done <<CASES
:|1.2.0+git20261202.gH|1.2.0+git20261202.gH|2026-12-02|1.2.0+git20261202.gH 2026-12-02
echo '# local' >>CMakeLists.txt|1.2.0+git20261202.gH|1.2.0+git20261202.gH.dirty|2026-12-02|1.2.0+git20261202.gH 2026-12-02
git checkout -q CMakeLists.txt; git tag -a v1.2.0 -m 1.2.0|1.2.0|1.2.0|2026-11-30|1.2.0 2026-11-30
echo '# local' >>CMakeLists.txt|1.2.0|1.2.0+git20261202.0.gH.dirty|2026-12-02|1.2.0 2026-11-30
git checkout -q CMakeLists.txt; GIT_COMMITTER_DATE=2026-12-03T00:00:00Z git commit -q --allow-empty -m two|1.2.0+git20261203.1.gH|1.2.0+git20261203.1.gH|2026-12-03|1.2.0+git20261203.1.gH 2026-12-03
git tag -a v1.1.0 -m 1.1.0|1.2.0+git20261203.1.gH|1.2.0+git20261203.1.gH|2026-12-03|1.2.0+git20261203.1.gH 2026-12-03
export SOURCE_DATE_EPOCH=86399|1.2.0+git20261203.1.gH|1.2.0+git20261203.1.gH|1970-01-01|1.2.0+git20261203.1.gH 1970-01-01
CASES

echo 'gitdir: /nonexistent' >build/tree/.git
sh build/tree/scripts/version.sh >/dev/null 2>&1
check "status in a checkout git cannot read" 1 "$?"
finish
