#!/bin/sh
# SPDX-License-Identifier: GPL-2.0-or-later
# Compile locale source $1 (UTF-8) into directory $2, in the byte order $3
# (big or little) of the programs that will read it. localedef exits 1 on
# mere warnings about the source, so success is judged by the files it wrote.
localedef -i "$1" -f UTF-8 ${3:+"--$3-endian"} "$2" >/dev/null 2>&1
test -f "$2/LC_NUMERIC"
