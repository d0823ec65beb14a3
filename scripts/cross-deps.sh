#!/bin/sh
# SPDX-License-Identifier: GPL-2.0-or-later
# Install, as root, the packages a build for another Debian architecture
# needs and that are missing, after adding that architecture to dpkg's.
# Multiarch puts them beside the native packages, which stay as they are.
# Usage: cross-deps.sh ARCH PACKAGES
set -eu
arch=$1
packages=$2

[ "$(id -u)" = 0 ] || exit 0
dpkg --print-foreign-architectures | grep -qx "$arch" || dpkg --add-architecture "$arch"
missing=
for p in $packages; do
	dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' ||
		missing="$missing $p"
done
[ -n "$missing" ] || exit 0
apt-get update -q
# shellcheck disable=SC2086 # one word per package
DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends $missing
