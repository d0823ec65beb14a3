#!/bin/sh
# SPDX-License-Identifier: GPL-2.0-or-later
# Regenerate the message template from the sources and merge it into every
# translation named in LINGUAS. New messages arrive untranslated and changed
# ones marked fuzzy, for a translator to finish; messages that left the
# sources stay at the end of the file as obsolete entries and come back by
# themselves if the text returns.
#
# Usage: update-po.sh [DIR]. With DIR the template and the merged
# translations go there and po/ is left alone, so that a check can see what
# an update would bring.
set -e
top=$(cd "$(dirname "$0")/.." && pwd)
out=$(cd "${1:-$top/po}" && pwd)
cd "$top"


version=$(sh scripts/version.sh)
list=$(mktemp) && warnings=$(mktemp)
trap 'rm -f "$list" "$warnings"' EXIT
# The directories whose sources hold user-visible messages.
find common tool -name '*.cpp' -o -name '*.h' | LC_ALL=C sort >"$list"
xgettext --language=C++ --from-code=UTF-8 \
	--keyword=_ --keyword=N_ --add-comments=TRANSLATORS: \
	--add-location=file --package-name=hostkit \
	--package-version="$version" --msgid-bugs-address= \
	--files-from="$list" --output="$out/hostkit.pot" 2>"$warnings" ||
	{ cat "$warnings" >&2; exit 1; }
# The package has no address for translation bugs; say nothing about it.
sed '/msgid-bugs-address was not specified/,/command line option/d' "$warnings" >&2

# shellcheck disable=SC2013 # LINGUAS holds words, several to a line at will
for lang in $(sed 's/#.*//' po/LINGUAS); do
	if [ "$out" != "$top/po" ] && [ -f "po/$lang.po" ]; then
		cp "po/$lang.po" "$out/$lang.po"
	fi
	# A language just added to LINGUAS starts from the template.
	[ -f "$out/$lang.po" ] || msginit --no-translator --locale="$lang" \
		--input="$out/hostkit.pot" --output-file="$out/$lang.po"
	msgmerge --quiet --update --backup=none --previous \
		--add-location=file "$out/$lang.po" "$out/hostkit.pot"
	printf '%s: ' "$lang" >&2
	msgfmt --check --statistics --output-file=/dev/null "$out/$lang.po"
done
