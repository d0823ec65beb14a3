#!/bin/sh
# SPDX-License-Identifier: GPL-2.0-or-later
# The translations are complete for today's sources and pass msgfmt's
# format checks, and the program speaks German when the locale asks for it:
# diagnostics, help (aligned as in English) and, with "reports", the report
# lines, which need a loop device.
# Usage: translation_test.sh SOURCE_DIR TOOL LOCALE_DIR [reports]
# TOOL reads its catalogues from the build tree; LOCALE_DIR holds de_DE.UTF-8.
# shellcheck source=tests/support/check.sh
. "$(dirname "$0")/../support/check.sh"
# shellcheck source=tests/support/loop.sh
. "$(dirname "$0")/../support/loop.sh"
src=$1
tool=$2
locales=$3

german() {
	env -u LANGUAGE LOCPATH="$locales" LC_ALL=de_DE.UTF-8 "$tool" "$@"
}

[ "${4:-}" != reports ] || loop_need
work=$(mktemp -d)
loop_traps "$work"
if [ "${4:-}" = reports ]; then
	loop=$(loop_attach "$work/disk.img" 4M) || exit 1
	# Zero-fill works on every loop device; the discard also reads a German
	# decimal comma.
	check "German zero-fill report" "$loop: 1048576 Bytes ab Offset 0 mit Nullen gefüllt" \
		"$(german -z -v -l 1M "$loop")"
	check "German discard report" "$loop: 1048576 Bytes ab Offset 1560576 verworfen" \
		"$(german -v -o 1,5M -l 1M "$loop")"
	finish
fi

# Messages of a .po file that have no translation or only a fuzzy one.
unfinished() {
	{
		msgattrib --no-obsolete --untranslated "$1"
		msgattrib --no-obsolete --only-fuzzy "$1"
	} | awk '/^msgid /{ id = substr($0, 7); in_id = 1; next }
		/^"/ && in_id { id = id $0; next }
		/^msgstr/ { if (id != "\"\"") print id; in_id = 0 }'
}

# What an update of the catalogue would bring, without touching po/.
sh "$src/po/update-po.sh" "$work" 2>"$work/update.log"
status=$?
check "update-po.sh status" 0 "$status"
[ "$status" -eq 0 ] || cat "$work/update.log"
languages=$(sed 's/#.*//' "$src/po/LINGUAS")
for lang in $languages; do
	check "msgfmt --check of $lang.po" "" \
		"$(msgfmt --check --output-file=/dev/null "$src/po/$lang.po" 2>&1)"
	check "messages of the sources not translated in $lang.po (make update-po, then translate)" \
		"" "$(unfinished "$work/$lang.po")"
done

# Arguments | the start of the last line on standard error (the system's
# error text, which comes from the C library's catalogue, is left out).
while IFS='|' read -r args expected; do
	eval "set -- $args"
	line=$(german "$@" 2>&1 >/dev/null | tail -n 1)
	case $line in "$expected"*) line=$expected ;; esac
	check "German diagnostic of [$args]" "$expected" "$line"
done <<CASES
|sectrim: kein Gerät angegeben
/dev/null /dev/null|Weitere Informationen finden Sie in sectrim(8).
/dev/null|sectrim: /dev/null: ist kein Blockgerät
-o 1x /dev/null|sectrim: Offset kann nicht ausgewertet werden: '1x':
-p 1.5M /dev/null|sectrim: Schrittweite kann nicht ausgewertet werden: '1.5M':
CASES
check "warning before the help for two devices" "sectrim: unerwartete Anzahl von Argumenten" \
	"$(german /dev/null /dev/null 2>&1 | head -n 1)"

# Every help line is translated, and the option column (options, argument
# names and the padding up to the description) is the English one.
english=$(LC_ALL=C "$tool" --help)
help=$(german --help)
check "help status" 0 "$?"
check "help lines left in English" "" \
	"$(printf '%s\n' "$help" | grep -v '^$' | grep -x -F "$english")"
column() {
	sed -n 's/^\( -[A-Za-z], --[a-z-]*\( <[^>]*>\)\{0,1\}  *\).*/\1|/p'
}
check "option column of the German help" "$(printf '%s\n' "$english" | column)" \
	"$(printf '%s\n' "$help" | column)"
finish
