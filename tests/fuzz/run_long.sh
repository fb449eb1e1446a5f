#!/usr/bin/env bash
# The long fuzz runs: builds every fuzz target with libFuzzer and the address and
# undefined-behaviour sanitizers (the fuzz-all preset, clang), then runs each at nice 19 for
# RUNS executions or SECONDS, whichever ends first, growing its corpus under WORK. Prints
# each target's executions, rate and outcome; a fault leaves its input in WORK/TARGET/.
# The files a target writes for each input go to a folder in memory (/dev/shm where there is
# one), not to the disk.
#
# Usage: tests/fuzz/run_long.sh [RUNS (10000000)] [SECONDS per target (3600)] [WORK] [TARGET...]
#   TARGET: store_loader, service_reply, multipart, movie, watermark_image, command_line,
#   command_line_parser
# Two runs side by side are best pinned to a CPU each (taskset -c 0 tests/fuzz/run_long.sh ...):
# FFmpeg then decodes in one thread, and the movie target runs about 1.7 times as fast.
#   (all by default); two runs of the script with other targets may run side by side.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
runs="${1:-10000000}"
seconds="${2:-3600}"
work="${3:-$root/build/fuzz-work}"
shift $(($# < 3 ? $# : 3))
targets=("$@")
cd "$root"
export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=1
# One build at a time in the shared build folder.
mkdir -p "$root/build"
exec 9>"$root/build/.fuzz-all-build.lock"
flock 9
cmake --preset fuzz-all >/dev/null
cmake --build --preset fuzz-all
flock -u 9
scratch="$(mktemp -d "$([[ -d /dev/shm && -w /dev/shm ]] && echo /dev/shm || echo "${TMPDIR:-/tmp}")/pindle-fuzz-XXXXXX")"
trap 'rm -rf "$scratch"' EXIT
export TMPDIR="$scratch"
fuzz="$root/tests/fuzz"
export LSAN_OPTIONS="suppressions=$fuzz/lsan.supp"

run() {  # TARGET SEED_CORPUS [OPTIONS...]
    local target="$1" seeds="$2"
    shift 2
    if [[ ${#targets[@]} -gt 0 && " ${targets[*]} " != *" ${target%_fuzzer} "* ]]; then
        return 0
    fi
    mkdir -p "$work/$target/corpus"
    local status=0
    (cd "$work/$target" && nice -n 19 "$root/build/fuzz-all/tests/$target" -runs="$runs" \
        -max_total_time="$seconds" -print_final_stats=1 -rss_limit_mb=4096 \
        -artifact_prefix="$work/$target/" "$@" "$work/$target/corpus" "$fuzz/$seeds" \
        >"$work/$target/log.txt" 2>&1) || status=$?
    local done rate
    done="$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$target/log.txt")"
    rate="$(sed -n 's/^stat::average_exec_per_sec: *//p' "$work/$target/log.txt")"
    local outcome="FAULT (exit $status), see $work/$target"
    if [[ $status -eq 0 ]]; then
        outcome="no fault"
    elif [[ $status -eq 72 ]]; then  # libFuzzer's status when stopped by a signal
        outcome="stopped before its end, no fault"
    fi
    echo "$target: ${done:-?} executions, ${rate:-?} a second, $outcome"
}

run store_loader_fuzzer store_corpus -dict="$fuzz/store.dict"
run service_reply_fuzzer service_reply_corpus -dict="$fuzz/service_reply.dict"
run multipart_fuzzer multipart_corpus
run movie_fuzzer movie_corpus -max_len=16384
run watermark_image_fuzzer watermark_corpus -max_len=16384
run command_line_fuzzer command_line_corpus -close_fd_mask=3 -dict="$fuzz/command_line.dict"
run command_line_parser_fuzzer command_line_corpus -close_fd_mask=3 -dict="$fuzz/command_line.dict"
