#!/bin/sh
# SPDX-License-Identifier: GPL-2.0-or-later
# The house format of every C and C++ source (.clang-format), static
# analysis of the tool and the support library (clang-tidy with the
# checked-in .clang-tidy, and cppcheck), and every shell script: those for
# sh and bash through shellcheck, those for zsh, which it cannot read,
# through zsh's own parser. Any finding fails.
set -eu
find tool common tests fuzz bench -name '*.cpp' -o -name '*.h' -o -name '*.c' |
	LC_ALL=C sort | xargs clang-format --dry-run -Werror
build=${LINT_BUILD:-build-lint}
cmake -S . -B "$build" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON -DBUILD_TESTING=OFF >/dev/null
# One file per run: clang-tidy 14 carries analyser state from one file into
# the next and then reports va_list use that is not there.
for f in tool/*.cpp common/*.cpp; do
	if ! out=$(clang-tidy -p "$build" --quiet "$f" 2>&1); then
		echo "$out" | grep -v 'warnings generated'
		exit 1
	fi
done
# useStlAlgorithm: the library walks its constexpr tables in plain loops by design.
cppcheck --std=c++20 --language=c++ --enable=warning,style,performance,portability \
	--suppress=useStlAlgorithm --suppress=missingIncludeSystem --inline-suppr \
	--error-exitcode=1 --quiet -I common -I tool tool common

# A script names its shell in its first line; bash completion, sourced
# rather than run, names it in a shellcheck directive.
sh_scripts=''
zsh_scripts=''
for f in $(git ls-files); do
	case $(head -n 1 "$f") in
	'#!'*zsh* | '#compdef'*) zsh_scripts="$zsh_scripts $f" ;;
	'#!'*sh* | '# shellcheck shell='*) sh_scripts="$sh_scripts $f" ;;
	*) case $f in *.sh) sh_scripts="$sh_scripts $f" ;; esac ;;
	esac
done
# shellcheck disable=SC2086 # one word per file
shellcheck -x $sh_scripts
for f in $zsh_scripts; do
	zsh -n "$f"
done
echo "lint: clean"
