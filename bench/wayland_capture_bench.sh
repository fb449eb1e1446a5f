#!/usr/bin/env bash
# Screen capture on the headless Wayland desktop of tests/wayland/rig.sh, beside wf-recorder,
# measured in one run: the whole 1280x720 output for SECONDS (5) while a terminal redraws as
# fast as it can, each recorder as the rig's user.
#
#   bench/wayland_capture_bench.sh [BUILD-DIR]       (as root, like the rig)
#
# Rows: frames in the movie per second; pictures the compositor sent per second (ours: from
# the backend's log; wf-recorder: distinct frames, since it writes one a picture); CPU time
# (user + system) per movie frame and per second. Both encode H.264 with libx264, every frame
# a key frame, preset veryfast.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
build="$(cd "${1:-$here/../build/default}" && pwd)"
pindle="$build/pindle-capture"
[[ -x "$pindle" ]] || { echo "build pindle-capture first ($pindle)" >&2; exit 1; }
seconds="${SECONDS_TO_RECORD:-5}"
rig="$here/../tests/wayland/rig.sh"
export PINDLE_RIG_DIR="$build/wayland-rig-bench" PINDLE_RIG_CONTENT_DELAY=0
"$rig" start >/dev/null 2>&1
trap '"$rig" stop' EXIT
work="$PINDLE_RIG_DIR/run/bench"
rm -rf "$work"
mkdir -p "$work/home"
chown -R pindle-rig "$work"

frames_in() {
    ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames \
        -of csv=p=0 "$1"
}

# CPU seconds of a command: /usr/bin/time's user and system times, added.
cpu_of() {
    awk '/^cpu / { print $2 + $3 }' "$1"
}

"$rig" run env PINDLE_CAPTURE_HOME="$work/home" /usr/bin/time -f "cpu %U %S" -o "$work/ours.time" \
    "$pindle" record --region 0,0,1280,720 --seconds "$seconds" >"$work/ours.out" 2>"$work/ours.err"
movie="$(sed -n 's/^recording \(.*\.mp4\): .*/\1/p' "$work/ours.out")"
ours_frames="$(frames_in "$movie")"
ours_pictures="$(sed -n 's/.*stopped: \([0-9]*\) pictures from the compositor.*/\1/p' "$work/ours.err")"
ours_cpu="$(cpu_of "$work/ours.time")"

"$rig" run /usr/bin/time -f "cpu %U %S" -o "$work/wf.time" timeout -s INT "$seconds" \
    wf-recorder -c libx264 -p preset=veryfast -p g=1 -p tune=zerolatency \
    -f "$work/wf.mp4" >"$work/wf.out" 2>&1 || true
wf_frames="$(frames_in "$work/wf.mp4")"
wf_cpu="$(cpu_of "$work/wf.time")"

awk -v s="$seconds" -v of="$ours_frames" -v op="$ours_pictures" -v oc="$ours_cpu" \
    -v wf="$wf_frames" -v wc="$wf_cpu" 'BEGIN {
    printf "%-14s %14s %18s %16s %12s\n", "1280x720", "frames/s", "pictures/s", "CPU ms/frame", "CPU %"
    printf "%-14s %14.1f %18.1f %16.2f %12.1f\n", "pindle-capture", of / s, op / s, 1000 * oc / of, 100 * oc / s
    printf "%-14s %14.1f %18.1f %16.2f %12.1f\n", "wf-recorder", wf / s, wf / s, 1000 * wc / wf, 100 * wc / s
}'
