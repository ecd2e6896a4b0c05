#!/usr/bin/env bash
# Completes brennix command lines through the installed completion, as bash would on TAB, against a real
# brennix binary, and compares the candidates offered.
completion=${1:?usage: CompletionTest.sh COMPLETION_FILE BRENNIX}
brennix=$(realpath "${2:?usage: CompletionTest.sh COMPLETION_FILE BRENNIX}")
[[ -r /usr/share/bash-completion/bash_completion ]] || exit 77
source /usr/share/bash-completion/bash_completion
source "$completion"

failures=0
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
touch "$scratch/image.hex" "$scratch/image.bin" "$scratch/notes.txt" "$scratch/params.dat"
mkdir "$scratch/images"
cd "$scratch" || exit 1

# Candidates for the line in $1 with the cursor at its end ("" after a trailing space completes a new word).
complete_line() {
    COMP_LINE="$brennix $1"
    COMP_POINT=${#COMP_LINE}
    read -ra COMP_WORDS <<<"$COMP_LINE"
    [[ $COMP_LINE == *' ' ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _brennix
    printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' ' | sed 's/ $//'
}

expect() {
    local line=$1 wanted=$2 got
    got=$(complete_line "$line")
    if [[ $got != "$wanted" ]]; then
        echo "FAIL: 'brennix $line' completed to '$got', expected '$wanted'"
        failures=$((failures + 1))
    fi
}

# Contains every word of $2 (the full list may grow as commands are added).
expect_including() {
    local line=$1 word got
    got=" $(complete_line "$line") "
    for word in $2; do
        if [[ $got != *" $word "* ]]; then
            echo "FAIL: 'brennix $line' completed to '$got', missing '$word'"
            failures=$((failures + 1))
        fi
    done
}

# Commands and global options, also after options that take a value.
expect_including "" "dump firmware flash ping read reset scan write"
expect "fl" "flash"
expect_including "--" "--baud --help --port --simulate --timeout"
expect "--ti" "--timeout"
expect_including "--port /dev/ttyACM0 --timeout 20 " "dump firmware flash ping scan"
expect_including "--simulate=2 " "dump flash scan"

# Values of the global options: the servos' rates after --baud, nothing made up for a number.
expect "--baud " "1000000 115200 128000 250000 38400 500000 57600 76800"
expect "--baud 11" "115200"
expect "--baud=5" "500000 57600"
expect "--timeout " ""

# Image files where a command takes a firmware file, and only there; other files for other commands.
expect "flash " ""
expect "flash 1 " "image.bin image.hex images"
expect "--baud 500000 flash 1 im" "image.bin image.hex images"
expect "firmware " "image.bin image.hex images"
expect "firmware image.hex --" "--frames"
expect "flash 1 image.hex " ""
expect "ping " ""

exit $((failures > 0))
