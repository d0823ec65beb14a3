#!/bin/sh
# SPDX-License-Identifier: GPL-2.0-or-later
# The manual page renders without warnings, keeps its footer's fields apart
# at 80 columns, and documents every option of the help text, in the same
# order.
# Usage: man_page_test.sh MAN_PAGE TOOL
# shellcheck source=tests/support/check.sh
. "$(dirname "$0")/../support/check.sh"
page=$1
tool=$2

check "groff warnings for $page" "" "$(groff -man -ww -z "$page" 2>&1)"
if command -v mandoc >/dev/null; then
	check "mandoc lint of $page" "" "$(mandoc -T lint -W all "$page" 2>&1)"
else
	skip "mandoc is not installed; its lint was not run"
fi

# man lays the page out as groff does, in 78 columns at 80: the footer's
# version and date must stay apart there.
date=$(sed -n 's/^\.TH [^ ]* [^ ]* "\([^"]*\)".*/\1/p' "$page")
check "date in the footer at 80 columns, apart from the version" "$date" \
	"$(groff -man -Tascii -P-cbou "$page" 2>/dev/null | tail -n 1 | awk -F '   *' '{ print $2 }')"

help=$(LC_ALL=C "$tool" --help)
documented=$(groff -man -Tascii -P-cbou "$page" 2>/dev/null |
	sed -n '/^OPTIONS/,/^[A-Z]/p' | sed 's/^ */ /' | help_options)
check "options of the help text in the manual page's OPTIONS" \
	"$(printf '%s\n' "$help" | help_options | tr '\n' ' ')" \
	"$(printf '%s\n' "$documented" | tr '\n' ' ')"

# The help text names the page; the page must be that one.
name=$(sed -n 's/^\.TH \([^ ]*\) \([^ ]*\).*/\1(\2)/p' "$page" | tr '[:upper:]' '[:lower:]')
check "manual page the help text refers to" \
	"$(printf '%s\n' "$help" | sed -n 's/^For more details see \(.*\)\.$/\1/p')" "$name"
finish
