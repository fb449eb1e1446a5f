#!/usr/bin/env bash
# A long capture: DURATION seconds (600 by default) of a 1280x720 region of moving content at
# up to 60 frames per second, with a capture-last every 30 seconds, on a private Xvfb.
#
# Checks: every movie (each capture-last and the final stop) is complete and decodes to its
# last frame and holds 30 seconds; peak memory at the end stays within 10 % of the peak at
# the first minute, or, when frames come slower than 60 per second, of the peak once the
# ring of frames is full; descriptors and threads do not grow. Prints the samples of memory,
# descriptors and threads over time, the load average before and after, and the result.
#
# Usage: bench/long_capture.sh PINDLE_CAPTURE_BINARY   (DURATION=120 for a short run,
#        DISPLAY_NUMBER=N for the Xvfb display, 92 by default)
set -uo pipefail
program="$1"
duration="${DURATION:-600}"
display=":${DISPLAY_NUMBER:-92}"
interval=5

work="$(mktemp -d)"
export PINDLE_CAPTURE_HOME="$work/home"
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

Xvfb "$display" -screen 0 1280x720x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
export DISPLAY="$display"
for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
# Moving content over the whole region: FFmpeg's test pattern at 60 per second.
SDL_AUDIODRIVER=dummy ffplay -loglevel error -nostats -an -noborder -left 0 -top 0 \
    -x 1280 -y 720 -f lavfi "testsrc2=size=1280x720:rate=60" >/dev/null 2>&1 &
pids+=($!)
sleep 2

captures=()
for ((at = 30; at < duration; at += 30)); do captures+=(--capture-last-at "$at"); done
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
"$program" record --region 0,0,1280,720 --seconds "$duration" "${captures[@]}" \
    >"$work/record.out" 2>"$work/record.err" &
recorder=$!
pids+=("$recorder")
start=$(date +%s)

# Samples: seconds since start, RSS and peak RSS (kB), open descriptors, threads.
echo "seconds rss_kb peak_kb fds threads" >"$work/samples"
while kill -0 "$recorder" 2>/dev/null; do
    status="/proc/$recorder/status"
    rss=$(awk '/^VmRSS/ {print $2}' "$status" 2>/dev/null)
    peak=$(awk '/^VmHWM/ {print $2}' "$status" 2>/dev/null)
    fds=$(ls "/proc/$recorder/fd" 2>/dev/null | wc -l)
    threads=$(ls "/proc/$recorder/task" 2>/dev/null | wc -l)
    [[ -n "$rss" ]] && echo "$(($(date +%s) - start)) $rss $peak $fds $threads" >>"$work/samples"
    sleep "$interval"
done
wait "$recorder"
status=$?
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "record exited with $status"
cat "$work/record.err"

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

echo "--- memory, descriptors and threads (every 60 s)"
awk 'NR == 1 || ($1 % 60 < '"$interval"') {printf "%8s %9s %9s %5s %7s\n", $1, $2, $3, $4, $5}' \
    "$work/samples"
# The peak at the first minute (at 60 frames per second the ring is full at 30 s and one
# capture-last has run), against the peak at the end. On a loaded machine frames come
# slower and the ring of 1800 frames fills later: memory is then compared from the sample
# 30 s after the ring filled.
delivered=$(awk '/^frames delivered/ {sub(",", "", $3); print $3}' "$work/record.out")
rate=$(awk "BEGIN {printf \"%.1f\", ${delivered:-0} / $duration}")
full=$(awk "BEGIN {r = ${delivered:-0} / $duration; t = r > 0 ? 1800 / r + 30 : 60;
    printf \"%d\", t < 60 ? 60 : t}")
echo "frames per second on average: $rate; the ring is full after about $((full - 30)) s"
read -r peak1 < <(awk 'NR > 1 && $1 <= 65 {p = $3} END {print p}' "$work/samples")
# Descriptors and threads: the most seen in the first minute's second half, and in the last
# minute before the stop.
read -r fds1 threads1 < <(awk 'NR > 1 && $1 >= 30 && $1 <= 65 {if ($4 > f) f = $4;
    if ($5 > t) t = $5} END {print f + 0, t + 0}' "$work/samples")
read -r peakFull < <(awk 'NR > 1 && $1 <= '"$full"' + 5 {p = $3} END {print p}' "$work/samples")
read -r peakN < <(awk 'NR > 1 {p = $3} END {print p}' "$work/samples")
read -r fdsMax threadsMax < <(awk 'NR > 1 && $1 > 65 {if ($4 > f) f = $4; if ($5 > t) t = $5}
    END {print f + 0, t + 0}' "$work/samples")
read -r fdsLate threadsLate < <(awk 'NR > 1 && $1 >= '"$duration"' - 65 && $1 <= '"$duration"' - 5 {
    if ($4 > f) f = $4; if ($5 > t) t = $5} END {print f + 0, t + 0}' "$work/samples")
echo "peak RSS at 1 min: $peak1 kB; at the end: $peakN kB ($(awk "BEGIN {printf \"%.3f\", $peakN / $peak1}")x)"
echo "peak RSS ${full} s in (the ring full and a capture-last done): $peakFull kB; at the end: $peakN kB ($(awk "BEGIN {printf \"%.3f\", $peakN / $peakFull}")x)"
echo "descriptors at 30-65 s: at most $fds1; after: at most $fdsMax; in the last minute: at most $fdsLate"
echo "threads at 30-65 s: at most $threads1; after: at most $threadsMax; in the last minute: at most $threadsLate"
if (( full > duration - 30 )); then
    echo "memory not judged: the ring filled too near the end of this run"
elif (( peakN * 100 > peakFull * 110 )); then
    fail "peak memory grew by more than 10 % after the ring filled"
fi
# A movie job that runs at a sample adds its descriptors and thread for a while; a leak adds
# some for every capture-last, 19 of them over 10 minutes.
(( fdsLate <= fds1 + 2 )) || fail "descriptors grew from $fds1 to $fdsLate"
(( threadsLate <= threads1 + 2 )) || fail "threads grew from $threads1 to $threadsLate"

echo "--- movies"
expected=$(( ${#captures[@]} / 2 + 1 ))
made=$(grep -c '^recording ' "$work/record.out")
echo "$made movies written ($expected expected: $((expected - 1)) capture-lasts and the stop)"
(( made == expected )) || fail "$made movies, $expected expected"
grep '^frames delivered' "$work/record.out"
while read -r _ url rest; do
    movie="${url%:}"
    facts="$(ffprobe -v error -count_frames -select_streams v:0 \
        -show_entries stream=nb_read_frames,width,height -show_entries format=duration \
        -of default=nw=1 "$movie" 2>"$work/probe.err")"
    frames=$(awk -F= '/nb_read_frames/ {print $2}' <<<"$facts")
    seconds=$(awk -F= '/^duration/ {print $2}' <<<"$facts")
    size=$(awk -F= '/^width/ {w = $2} /^height/ {h = $2} END {print w "x" h}' <<<"$facts")
    echo "${movie##*/}: $size, $seconds s, $frames frames decoded"
    [[ -s "$work/probe.err" ]] && fail "${movie##*/} has decoding errors: $(head -2 "$work/probe.err")"
    [[ "$size" == 1280x720 ]] || fail "${movie##*/} is $size"
    # 30 s of frames, less at most one frame interval of the slowest rate seen.
    awk "BEGIN {exit !($seconds >= 29.5 && $seconds <= 30.1)}" || fail "${movie##*/} holds $seconds s"
done < <(grep '^recording ' "$work/record.out")
last_movie="$(grep '^recording ' "$work/record.out" | tail -1 | cut -d' ' -f2)"
echo "the stop's movie: ${last_movie%:}"
echo "$((failures == 0 ? 1 : 0)) passed, $((failures == 0 ? 0 : 1)) failed"
[[ $failures -eq 0 ]]
