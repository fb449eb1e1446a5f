#!/usr/bin/env bash
# Exit statuses of the command line on input it must refuse: usage errors exit 2 with a
# message, failures exit 1 with a one-line message, and nothing aborts.
# Usage: usage_errors.sh PINDLE_CAPTURE_BINARY
set -euo pipefail
program="$1"
expect="$(dirname "$0")/expect_status.sh"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# An unknown option to the program itself is a usage error, not a start of the application.
"$expect" 2 --stderr-once "^pindle-capture: unknown option '--bogus'" --stderr '^Usage: ' \
    -- "$program" --bogus
"$expect" 2 --stderr "unknown verb 'bogus'" -- "$program" bogus

# Numbers record refuses: not finite, out of range, beyond a day.
region="--region 0,0,64,64"
for seconds in nan inf -inf 1e999 86401 0x1p1000 0 -1; do
    "$expect" 2 --stderr-once '^pindle-capture record: --seconds takes' \
        -- "$program" record $region --seconds "$seconds"
done
for bad in 1e999,0,64,64 0,0,1e400,64 0,0,64,nan inf,0,64,64 0,0,2000000,64 -1000001,0,64,64; do
    "$expect" 2 --stderr-once '^pindle-capture record: --region takes' \
        -- "$program" record --region "$bad" --seconds 1
done
for at in 1e999 inf nan 90000 -1; do
    "$expect" 2 --stderr-once '^pindle-capture record: --capture-last-at takes' \
        -- "$program" record $region --seconds 1 --capture-last-at "$at"
done
"$expect" 2 --stderr-once '^pindle-capture record: --capture-last-at must come before the end' \
    -- "$program" record $region --capture-last-at 2 --seconds 2

# A path that cannot be examined (a loop of links, a name too long) ends a verb with a
# one-line error, whichever verb meets it first.
ln -s "$work/loop-b" "$work/loop-a"
ln -s "$work/loop-a" "$work/loop-b"
long="$work/$(printf 'n%.0s' {1..300}).mp4"
for source in "$work/loop-a/movie.mp4" "$long"; do
    "$expect" 1 --stderr-once '^pindle-capture export: ' \
        -- "$program" export "$source" --to "$work/out.gif"
done

# A damaged movie: one line says why, and FFmpeg's own messages stay in the log.
damaged="$(dirname "$0")/../fuzz/movie_corpus/sample_count_huge.mp4"
"$expect" 1 --stderr-once "^pindle-capture info: cannot open " --stderr-once '.' \
    -- "$program" info "$damaged"
"$expect" 1 --stderr-once "^pindle-capture export: cannot open " --stderr-once '.' \
    -- "$program" export "$damaged" --to "$work/out.gif"

# A crop is four whole numbers with a width and height; checked before any movie is read.
for crop in "" 1,2,3 1,2,0,4 -1,2,3,4 1.5,2,3,4 "1, 2,3,4" 1,2,3,99999999999 2147483647,0,1,1; do
    "$expect" 2 --stderr-once '^pindle-capture export: --crop takes X,Y,W,H' \
        -- "$program" export "$damaged" --to "$work/out.gif" --crop "$crop"
done

# --max-size writes and checks a file of its own, so it needs a real destination.
for destination in "--to -" "--copy"; do
    "$expect" 2 --stderr-once '^pindle-capture export: --max-size writes a file of its own' \
        -- "$program" export "$damaged" $destination --max-size 1MB
done
