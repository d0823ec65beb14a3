#!/usr/bin/env zsh
# SPDX-License-Identifier: GPL-2.0-or-later
# The zsh completion parses, autoloads as the completion of sectrim, and,
# driven through a terminal as on <Tab>, offers the options of the help
# text, nothing for a size value, and block devices and directories for
# the device argument.
# Usage: zsh -f zsh_completion_test.zsh COMPLETION_FILE TOOL
. "${0:h}/../support/check.sh"
file=$1
tool=$2

check "zsh -n $file" "" "$(zsh -n "$file" 2>&1)"
fpath=("${file:h}" $fpath)
autoload -Uz compinit && compinit -u -D
check "completion function compdef gives sectrim" _sectrim "$_comps[sectrim]"
autoload +X _sectrim
check "_sectrim defined by autoloading" yes "${functions[_sectrim]:+yes}"

zmodload zsh/zpty || { skip "no zsh/zpty to drive a completion"; finish; }
block=(/dev/*(N%b[1]))
[[ -n $block ]] || { skip "no block device in /dev to offer"; finish; }

# A shell on a terminal whose <Tab> prints every match it adds, then <END>
# (brackets, so that no typed path can look like it).
zpty z env TERM=xterm zsh -f -i
zpty -w z "PS1=''; fpath=(${(q)file:h} \$fpath); autoload -Uz compinit; compinit -u -D"
zpty -w z 'compadd() {
	[[ ${(j: :)@} == *-[OAD]* ]] || { local -a m; builtin compadd -O m "$@"; print -rl -- ${m/#/MATCH:}; }
	builtin compadd "$@"
}'
zpty -w z '_tab() { _main_complete; print -r -- "<END>"; }; zle -C tab complete-word _tab; bindkey "^I" tab'
zpty -w z 'print -r -- "<READ""Y>"'
zpty -r z out '*<READY>*'
# replies LINE: what <Tab> at the end of LINE offers, sorted, on one line.
replies() {
	local out
	zpty -w -n z "$1"$'\t'
	zpty -r z out '*<END>*'
	zpty -w -n z $'\C-u'
	local -a lines=(${(f)out//$'\r'/})
	lines=(${(Mo)lines:#*MATCH:*})
	print -r -- "${lines[@]##*MATCH:}"
}

d=$(mktemp -d)
trap 'zpty -d z; rm -rf "$d"' EXIT
mkdir -p "$d/nested/deeper" "$d/files/sub"
ln -s "$block" "$d/blk"
ln -s "$block" "$d/nested/deeper/blk"
ln -s /dev/null "$d/chr"
: >"$d/disk.img"
mkfifo "$d/fifo"
: >"$d/files/b.log"
: >"$d/files/sub/big.img"

all=($(LC_ALL=C "$tool" --help | help_options))
all=(${(o)all})
check "options for [sectrim -]" "$all" "$(replies 'sectrim -')"
check "options after -z" "${(j: :)${(@)all:#(-s|--secure|-z|--zeroout)}}" "$(replies 'sectrim -z -')"
for line in 'sectrim -o ' 'sectrim --length ' 'sectrim --step=' 'sectrim -p4'; do
	check "values for [$line]" "" "$(replies "$line")"
done
check "devices under a directory" "blk files nested" "$(replies "sectrim -v $d/")"
check "devices after a size" "blk" "$(replies "sectrim -o 1M $d/nested/deeper/")"
check "no file where no device is" "sub" "$(replies "sectrim $d/files/")"
check "nothing where only files are" "" "$(replies "sectrim $d/files/sub/")"
finish
