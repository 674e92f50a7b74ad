#!/bin/sh
# Runs what docs/tutorial.md marks as tested, in a copy of the build's working
# folder: the ```sh block after each "<!-- tested -->" line, in order, as one
# script. Passes when the script exits 0, its output equals the ```text blocks
# after "<!-- output -->" lines, each PNG it names is a 640 x 480 picture, and
# the listing after "<!-- listing: PATH -->" is the file PATH of the folder.
# Usage: tutorial_test.sh TUTORIAL.md WORK_FOLDER
set -eu
tutorial=$1
work=$2
dir=$(mktemp -d /tmp/zepta_tutorial_XXXXXX)
trap 'rm -rf "$dir"' EXIT
cp -a "$work/." "$dir/"

# The fenced block after each marker line whose text starts with $1.
blocks() {
  awk -v mark="$1" '
    index($0, "<!-- " mark) == 1 { armed = 1; next }
    armed && /^```/ { armed = 0; inside = 1; next }
    inside && /^```$/ { inside = 0; next }
    inside { print }
  ' "$tutorial"
}

blocks tested > "$dir/tutorial.sh"
blocks output > "$dir/expected.txt"
if [ ! -s "$dir/tutorial.sh" ] || [ ! -s "$dir/expected.txt" ]; then
  echo "no tested commands or no output in $tutorial"
  exit 1
fi

status=0
(cd "$dir" && sh -e tutorial.sh) > "$dir/output.txt" 2> "$dir/errors.txt" || status=$?
if [ "$status" -ne 0 ]; then
  echo "the tutorial's commands failed with status $status:"
  cat "$dir/tutorial.sh" "$dir/errors.txt"
  exit 1
fi
tr -d '\r' < "$dir/output.txt" > "$dir/output_lf.txt"
if ! cmp -s "$dir/output_lf.txt" "$dir/expected.txt"; then
  echo "the commands printed something else than the tutorial shows:"
  diff "$dir/expected.txt" "$dir/output_lf.txt" || true
  exit 1
fi

# Every screenshot the commands ask for: a PNG of 640 x 480 (IHDR width and height).
for png in $(grep -o 'screenshot [0-9]*:[^ ]*' "$dir/tutorial.sh" | sed 's/.*://'); do
  size=$(od -An -tx1 -j16 -N8 "$dir/$png" 2>/dev/null | tr -d ' \n')
  signature=$(od -An -c -j1 -N3 "$dir/$png" 2>/dev/null | tr -d ' \n')
  if [ "$signature" != "PNG" ] || [ "$size" != "00000280000001e0" ]; then
    echo "$png is no 640 x 480 PNG"
    exit 1
  fi
done

# The listings: the tutorial shows the files as they are.
for path in $(grep -o '<!-- listing: [^ ]*' "$tutorial" | sed 's/.* //'); do
  awk -v mark="<!-- listing: $path -->" '
    $0 == mark { armed = 1; next }
    armed && /^```/ { armed = 0; inside = 1; next }
    inside && /^```$/ { exit }
    inside { print }
  ' "$tutorial" > "$dir/listing.txt"
  if ! tr -d '\r' < "$dir/$path" | cmp -s - "$dir/listing.txt"; then
    echo "the tutorial's listing of $path differs from the file:"
    tr -d '\r' < "$dir/$path" | diff "$dir/listing.txt" - || true
    exit 1
  fi
done
