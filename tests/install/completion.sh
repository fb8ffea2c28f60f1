#!/usr/bin/env bash
# The bash completion of servoctl and servosim, driven as bash drives it:
# COMP_WORDS and COMP_CWORD set, the function that complete -p names
# called, COMPREPLY compared. bash splits "--name=value" at the "=".
#   completion.sh DIR   (DIR holds the scripts servoctl and servosim)
set -u
dir=$1
. "$dir/servoctl"
. "$dir/servosim"
failed=0

# complete_words LINE: what completing the last word of LINE offers.
complete_words() {
    local line=$1 function
    read -ra COMP_WORDS <<<"$line"
    [[ $line == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    function=$(complete -p "${COMP_WORDS[0]}" | sed -E 's/.* -F ([^ ]+) .*/\1/')
    COMPREPLY=()
    "$function" 2>/dev/null
    echo "${COMPREPLY[*]}"
}

while IFS='|' read -r line expected; do
    got=$(complete_words "$line")
    if [[ $got != "$expected" ]]; then
        echo "completing \"$line\": got \"$got\", expected \"$expected\"" >&2
        failed=1
    fi
done <<'CASES'
servoctl |info read write poll station scan backup restore plot monitor gateway
servoctl --sim re|read restore
servoctl --for|--format
servoctl -f |dec hex signed bits int32 float json
servoctl --format = fl|float
servoctl --entry c|create
servoctl --timeout |
servoctl --timeout 500 --sim read F|FN6HR FN5DO
servoctl --sim read HR1 word 2 h|hex
servoctl --sim write HR1 in|int16 int32
servoctl --sim read HR1 in|int32
servoctl --sim write HR1 word 5 then re|read restore
servoctl -d /dev/ttyUSB0 --line RS485,9600,NONE,8,2 scan 1-5 p|parity
servoctl gateway listen 0.0.0.0:502 r|read-only
servosim --mo|--model
servosim --model = s|static servo
servosim --stations |
servosim --lo|--load
CASES

for tool in servoctl servosim; do
    [[ $(complete -p $tool) == "complete -F _$tool $tool" ]] || { echo "no completion for $tool" >&2; failed=1; }
done
exit $failed
