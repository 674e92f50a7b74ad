#!/bin/sh
# The dump comparison of scripts/netplay.sh on made-up dumps of four machines: it
# passes when they agree and names each kind of disagreement when they do not.
# Usage: netplay_compare_test.sh SOURCE_DIR
set -eu
script="$1/scripts/netplay.sh"
dir=$(mktemp -d "${TMPDIR:-/tmp}/netplay_compare.XXXXXX")
trap 'rm -rf "$dir"' EXIT

# Four dumps that agree: car k (element 3 + k) stands at x = k * 10 m, z = -k * 10 m
# (positions in 1/512,000 m); each machine drove 600 + k metres, sent 5 texts and
# received 5 from each other machine.
agreeing() {
  rm -f "$dir"/machine*
  for m in 1 2 3 4; do
    {
      echo "exit 0"
      echo "ticks 900"
      echo "global $((9 + m)) 2"
      for k in 1 2 3 4; do echo "global $((400 + k)) $((600 + k))"; done
      echo "global 411 5"
      echo "global 412 15"
      for k in 1 2 3 4; do [ "$k" = "$m" ] || echo "global $((420 + k)) 5"; done
      for k in 1 2 3 4; do
        echo "name $((3 + k)) Car $k"
        echo "element $((3 + k)) 3 $((k * 5120000))"
        echo "element $((3 + k)) 4 256000"
        echo "element $((3 + k)) 5 $((-k * 5120000))"
      done
    } >"$dir/machine$m.dump"
    echo 0 >"$dir/machine$m.status"
  done
}

# set_word MACHINE "element 5 3" VALUE: a line's value in one dump.
set_line() {
  sed -i "s/^$2 .*/$2 $3/" "$dir/machine$1.dump"
}

failures=0
# check NAME EXPECTED_STATUS EXPECTED_TEXT: compares and checks the outcome.
check() {
  code=0
  output=$(sh "$script" --compare "$dir" 2>&1) || code=$?
  if [ "$code" != "$2" ] || ! printf '%s\n' "$output" | grep -qF -- "$3"; then
    echo "FAIL: $1: status $code (want $2), output lacks \"$3\":" >&2
    printf '%s\n' "$output" >&2
    failures=$((failures + 1))
  fi
}

agreeing
check "four machines that agree" 0 "PASSED"

agreeing
set_line 3 "element 5 3" $((2 * 5120000 + 256000))  # car 2 half a metre off on machine 3
check "a car half a metre off" 1 "car 2: final positions differ by 0.500 m"

agreeing
set_line 3 "element 5 5" $((-2 * 5120000 - 51200))  # a tenth of a metre: within 0.25 m
check "a car a tenth of a metre off" 0 "PASSED"

agreeing
set_line 4 "global 402" 555
check "a shared global that did not arrive" 1 "machine 4: shared global 402 is 555, its owner (machine 2) has 602"

agreeing
set_line 1 "global 422" 0
check "no text from one machine" 1 "machine 1: no text from machine 2 (it sent 5)"

agreeing
set_line 2 "global 423" 6
check "more texts than were sent" 1 "machine 2: 6 texts from machine 3, which sent 5"

agreeing
set_line 3 "global 412" 0
check "a machine that received nothing" 1 "machine 3: received no texts"

agreeing
set_line 4 "global 404" 0
check "a car that never moved" 1 "machine 4: its car drove no distance"

agreeing
echo 134 >"$dir/machine3.status"
check "a machine that crashed" 1 "machine 3: exit status 134"

agreeing
rm "$dir/machine4.dump"
check "a machine without a dump" 1 "machine 4: no dump"

[ "$failures" = 0 ] && echo "all comparison cases passed"
exit "$failures"
