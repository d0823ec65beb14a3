#!/bin/sh
# SPDX-License-Identifier: GPL-2.0-or-later
# The release tarball's name, in a scratch repository: hostkit-VERSION only
# at the commit tagged vVERSION with nothing changed; every other state of
# the checkout has a name of its own.
# Usage: dist_name_test.sh VERSION_SCRIPT (an absolute path)
# shellcheck source=tests/support/check.sh
. "$(dirname "$0")/../support/check.sh"
repo=$(mktemp -d)
trap 'rm -rf "$repo"' EXIT
cd "$repo" || exit 1
mkdir scripts && cp "$1" scripts/version.sh || exit 1
git init -q && git config user.name test && git config user.email test@localhost
echo 'project(hostkit VERSION 1.2.0 LANGUAGES C)' >CMakeLists.txt
git add CMakeLists.txt scripts && git commit -qm one

# The state of the checkout, as commands | the name expected ("H" stands
# for the commit).
while IFS='|' read -r setup expected; do
	eval "$setup"
	hash=$(git rev-parse --short=7 HEAD)
	check "tarball name after [$setup]" "hostkit-$(echo "$expected" | sed "s/H/$hash/")" \
		"$(sh scripts/version.sh --dist 2>&1)"
done <<CASES
:|1.2.0-gH
echo '# local' >>CMakeLists.txt|1.2.0-gH-dirty
git checkout -q CMakeLists.txt; git tag -a v1.2.0 -m 1.2.0|1.2.0
echo '# local' >>CMakeLists.txt|1.2.0-0-gH-dirty
git checkout -q CMakeLists.txt; git commit -q --allow-empty -m two|1.2.0-1-gH
git tag -a v1.1.0 -m 1.1.0|1.1.0-0-gH
CASES
finish
