#!/usr/bin/env bash
# The command line on a full disk: the library folder and the temporary folder on a 1 MiB
# tmpfs that a filler file fills. A caption that cannot be stored, an export that cannot be
# written and a capture that runs out of space each end with a one-line error and exit
# status 1; the store file stays as it was and loads, every listed movie is there and plays,
# no movie is left unlisted, no partial output or temporary file is left, and a file that
# was at the output path keeps its content. Needs root for the mount (exit 77: skipped) and
# an X server for the captures.
# Usage: full_disk.sh PINDLE_CAPTURE_BINARY
set -uo pipefail
program="$1"
work="$(mktemp -d)"
disk="$work/disk"
mkdir "$disk"
if ! mount -t tmpfs -o size=1m tmpfs "$disk" 2>"$work/mount.log"; then
    echo "SKIP: cannot mount a tmpfs: $(cat "$work/mount.log")"
    rm -rf "$work"
    exit 77
fi
trap 'umount "$disk"; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

export PINDLE_CAPTURE_HOME="$disk/home" TMPDIR="$disk/tmp" PINDLE_LOG=error
mkdir -p "$TMPDIR"
home="$PINDLE_CAPTURE_HOME"

# run STATUS VERB ARGS...: the verb exits with STATUS; its output in $work/out, $work/err.
run() {
    local expected="$1"
    shift
    "$program" "$@" >"$work/out" 2>"$work/err"
    local status=$?
    [[ $status -eq $expected ]] ||
        fail "'$*' exited with $status, expected $expected: $(cat "$work/out" "$work/err")"
}
fill() {  # leaves $1 KiB free, or none
    rm -f "$disk/filler"
    local free
    free="$(df -k --output=avail "$disk" | tail -1)"
    if [[ $1 -eq 0 ]]; then
        dd if=/dev/zero of="$disk/filler" bs=1k 2>/dev/null
    else
        dd if=/dev/zero of="$disk/filler" bs=1k count=$((free - $1)) 2>/dev/null
    fi
}
store() { ls "$home"/*.txt; }
# The library loads; every listed movie exists and plays; no movie is unlisted; no temporary
# file is left.
check_library() {
    run 0 library
    local listed
    listed="$(awk '$1 ~ /^[0-9]+$/ && $2 ~ /[.]mp4$/ {print $2}' "$work/out" | sort)"
    [[ "$(grep -c . <<<"$listed")" -eq "$1" ]] || fail "the library lists: $(cat "$work/out")"
    [[ "$(cd "$home" && ls ./*.mp4 | sed 's|^\./||' | sort)" == "$listed" ]] ||
        fail "movies on disk and in the library differ: $(ls "$home")"
    while read -r movie; do
        run 0 info "$home/$movie"
    done <<<"$listed"
    [[ -z "$(find "$home" "$TMPDIR" -type f -name '*tmp*' -o -type d -name 'tmp-*')" ]] ||
        fail "temporary files are left: $(find "$home" "$TMPDIR")"
}

run 0 record --region 0,0,64,64 --seconds 1
check_library 1
cp "$(store)" "$work/store.before"
echo "old" >"$disk/kept.gif"

fill 0
run 1 caption 1 add --text "no room"
grep -q "^pindle-capture caption: the library was not saved: .*No space left on device" \
    "$work/err" || fail "caption: $(cat "$work/err")"
! grep -q added "$work/out" || fail "caption says it was added: $(cat "$work/out")"
cmp -s "$(store)" "$work/store.before" || fail "the store changed"

for output in "$disk/out.gif" "$disk/kept.gif"; do
    run 1 export 1 --to "$output"
    grep -q "^pindle-capture export: .*No space left on device" "$work/err" ||
        fail "export: $(cat "$work/err")"
done
[[ ! -e "$disk/out.gif" ]] || fail "the failed export left $disk/out.gif"
[[ "$(cat "$disk/kept.gif")" == old ]] || fail "the failed export changed the file it replaces"

run 1 record --region 0,0,64,64 --seconds 1
grep -q "^pindle-capture record: .*No space left on device" "$work/err" ||
    fail "record on a full disk: $(cat "$work/err")"
cmp -s "$(store)" "$work/store.before" || fail "the store changed"
rm -f "$disk/filler"
check_library 1

# Room for the first movie of a capture but not the second: the capture-last's recording is
# kept, the one cut short is not.
fill 24
run 1 record --region 0,0,400,300 --seconds 3 --capture-last-at 1
grep -q "^pindle-capture record: the movie could not be written: .*No space left on device" \
    "$work/err" || fail "record running out of space: $(cat "$work/err")"
rm -f "$disk/filler"
count="$(awk '$1 ~ /^[0-9]+$/ && $2 ~ /[.]mp4$/' <("$program" library) | wc -l)"
[[ $count -ge 1 ]] || fail "the library does not load"
check_library "$count"
cp "$(store)" "$work/store.before"

# With room again, the store takes changes as before.
run 0 caption 1 add --text "room again"
grep -q "^caption 1 added$" "$work/out" || fail "caption: $(cat "$work/out")"
echo "PASS: full disk: $count recordings kept, store intact, no partial files"
