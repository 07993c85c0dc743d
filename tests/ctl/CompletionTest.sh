#!/bin/bash
# The bash completion of tarvelctl, run as bash runs it: restore offers the
# names of the kept backups (and only those of the port given), not the dates
# `backups` prints first; --model offers the models tarvelctl lists.
# Usage: CompletionTest.sh COMPLETION TARVELCTL
set -u
completion=$1
ctl=$2
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT

# A data folder with a space in its path, holding two ports' backups and a
# file that is none.
export XDG_DATA_HOME="$dir/my data" XDG_CONFIG_HOME="$dir/config"
backups="$XDG_DATA_HOME/tarvel/backups"
mkdir -p "$backups" "$XDG_CONFIG_HOME"
a=_dev_ttyUSB0@K201@20250301T101502.123Z.hcs
b=_dev_ttyUSB0@K203@20250302T080000.000Z.hcs
c=SIM@K201@20250303T090000.000Z.hcs
for name in "$a" "$b" "$c" notes.txt; do : >"$backups/$name"; done

source "$completion"
failed=0
check() {  # expected words, then the command line; the last word is completed
    local expected=$1
    shift
    COMP_WORDS=("$ctl" "$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _tarvelctl
    local got
    got=$(printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort | tr '\n' ' ')
    if [[ $got != "$expected" ]]; then
        echo "FAIL: tarvelctl $*: got '$got', expected '$expected'"
        failed=1
    fi
}

check "$c $a $b " restore ""
check "$a $b " restore _dev
check "$b " restore _dev_ttyUSB0@K203
check "$a $b " --port /dev/ttyUSB0 restore ""
check "--help --json --port " backups --
models=$("$ctl" --list models | cut -f1 | LC_ALL=C sort | tr '\n' ' ')
[[ -n $models ]] || { echo "FAIL: tarvelctl --list models listed nothing"; failed=1; }
check "${models}auto " --port SIM --model ""
check "commands models " --list ""
exit $failed
