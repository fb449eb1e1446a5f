#!/usr/bin/env bash
# Kills the program at random moments while it works on a library, and checks what a user
# would find at the next start.
#
# A child process group runs the program's own operations in a loop (record with a
# capture-last, add a caption, export a GIF, remove the caption, delete the oldest
# recording); the parent kills the whole group with SIGKILL after a random delay, half of the
# time in the moments after a new movie file shows (while it is being written). After every
# kill the next start (`library`) must load the store, every recording it lists must have a
# movie that decodes to the end, no movie of the library folder may stay unlisted, and no
# temporary file of the killed process may outlive that start.
#
# Usage: crash_soak.sh PINDLE_CAPTURE_BINARY [KILLS]   (SOAK_SEED=N repeats a run)
set -uo pipefail
program="$1"
kills="${2:-20}"
seed="${SOAK_SEED:-$$}"
RANDOM=$seed

work="$(mktemp -d)"
home="$work/home"       # the library: documents, support, tmp-<pid>, settings
exports="$work/exports"  # a user's folder that exports go to
mkdir -p "$home" "$exports"
export PINDLE_CAPTURE_HOME="$home"
xvfb_pid=""
child=""
cleanup() {
    [[ -n "$child" ]] && kill -KILL -- "-$child" 2>/dev/null
    [[ -n "$xvfb_pid" ]] && kill "$xvfb_pid" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
exec 3>&-
for _ in $(seq 100); do [[ -s "$work/display" ]] && break; sleep 0.05; done
[[ -s "$work/display" ]] || { echo "FAIL: Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -1 "$work/display")"

failures=0
fail() { echo "FAIL (kill $kill): $*" >&2; failures=$((failures + 1)); }

# The child: the operations in a loop, starting at a random one so that kills land in all
# of them. It notes the operation under way in $work/op.
operations='
program="$1"; exports="$2"; work="$3"; step="$4"
run() { echo "$1" >"$work/op"; shift; "$program" "$@" >/dev/null 2>>"$work/child.log"; }
while true; do
    case $((step % 5)) in
    0) run record record --region 0,0,640,480 --seconds 3 --capture-last-at 1.5 ;;
    1) run caption-add caption 1 add --text "soak $step" --animation fade ;;
    2) run export export 1 --to "$exports/clip.gif" --size 320 ;;
    3) run caption-remove caption 1 remove 1 ;;
    4) count=$("$program" library 2>/dev/null | tail -1 | cut -d" " -f1)
       if [[ "$count" =~ ^[0-9]+$ && $count -gt 3 ]]; then run delete delete "$count"; fi ;;
    esac
    step=$((step + 1))
done'

movies_on_disk() { find "$home" -maxdepth 1 -name '*.mp4' -printf '%f\n' | sort; }
temporaries() {
    find "$home" -name '*.tmp-*' -printf '%P\n'
    # Temporary folders of processes that are gone.
    for folder in "$home"/tmp-*; do
        [[ -d "$folder" ]] || continue
        pid="${folder##*/tmp-}"
        pid="${pid%%-*}"
        kill -0 "$pid" 2>/dev/null || echo "${folder##*/}/"
    done
}

probed=0
unlisted_total=0
orphans_listed=0
orphans_removed=0
temporaries_total=0
left_over=""
for kill in $(seq "$kills"); do
    targeted=$((RANDOM % 2))
    # A targeted kill starts the loop at its recording.
    setsid bash -c "$operations" soak "$program" "$exports" "$work" "$((RANDOM * (1 - targeted)))" &
    child=$!
    if ((!targeted)); then
        # Anywhere in the loop: up to 3 s in.
        sleep "$((RANDOM % 3)).$((RANDOM % 10))$((RANDOM % 10))"
    else
        # While a movie is written, which takes some milliseconds: as soon as a new movie
        # file shows, or up to 0.01 s later.
        inotifywait -qq -t 4 -e create --include '\.mp4$' "$home" >/dev/null 2>&1
        ((RANDOM % 2)) && sleep "0.00$((RANDOM % 10))"
    fi
    kill -KILL -- "-$child" 2>/dev/null
    op="$(cat "$work/op" 2>/dev/null)"
    op="${op:-starting}"  # none begun yet, or the note caught while it was rewritten
    { wait "$child"; } 2>/dev/null  # without the shell's "Killed" notice
    # Its processes are gone once their new parent has reaped them.
    for _ in $(seq 500); do kill -0 -- "-$child" 2>/dev/null || break; sleep 0.01; done
    child=""
    echo "kill $kill during $op" >>"$work/kills"

    # Movies the store file does not name: being written (or just written) at the kill.
    stored="$(grep -o '[0-9A-F-]\{36\}\.mp4' "$home/6168f305888c3d795e67c6de17bf8a21.txt" \
        2>/dev/null | sort -u)"
    orphans="$(comm -23 <(movies_on_disk) <(echo "$stored" | grep .))"
    before_temporaries="$(temporaries)"
    temporaries_total=$((temporaries_total + $(grep -c . <<<"$before_temporaries")))

    # The next start.
    if ! listing="$("$program" library 2>"$work/library.err")"; then
        fail "the store did not load: $(cat "$work/library.err")"
        continue
    fi
    ls "$home" | grep -q '\.damaged-' && fail "the store was found damaged"
    # Item lines: a number, the movie, ..., the state; the last line counts them.
    items="$(awk 'NR > 1 && $1 ~ /^[0-9]+$/ && $2 != "recordings"' <<<"$listing")"
    listed="$(awk '{ print $2 }' <<<"$items" | grep . | sort)"
    bad_state="$(awk '$NF != "ready"' <<<"$items")"
    [[ -z "$bad_state" ]] || fail "recordings that are not ready: $bad_state"
    for movie in $listed; do
        [[ -f "$home/$movie" ]] || { fail "$movie is listed but missing"; continue; }
        frames="$(ffprobe -v error -count_frames -select_streams v:0 \
            -show_entries stream=nb_read_frames -of csv=p=0 "$home/$movie" 2>"$work/probe.err")"
        if [[ -s "$work/probe.err" || ! "$frames" =~ ^[1-9][0-9]*$ ]]; then
            fail "$movie does not decode: $(head -3 "$work/probe.err")"
        fi
        probed=$((probed + 1))
    done
    for movie in $orphans; do
        if grep -qx "$movie" <<<"$listed"; then
            orphans_listed=$((orphans_listed + 1))
        elif [[ ! -e "$home/$movie" ]]; then
            orphans_removed=$((orphans_removed + 1))
        fi
    done
    # A movie shows under its name only once its writer has locked it, so not even an empty
    # one may stay unlisted.
    for movie in $(comm -23 <(movies_on_disk) <(echo "$listed" | grep .)); do
        unlisted_total=$((unlisted_total + 1))
        fail "$movie ($(stat -c %s "$home/$movie") bytes) is listed by no recording after the next start"
    done
    left_over="$(temporaries)"
    [[ -z "$left_over" ]] || fail "temporary files outlived the next start: $left_over"
    # An export writes its file without a name until it is complete: a kill leaves nothing
    # beside the user's destination.
    export_left="$(find "$exports" -name '*.tmp-*' -printf '%f\n')"
    [[ -z "$export_left" ]] || fail "a killed export left $export_left beside its destination"
    rm -f "$work/op"
done

echo "seed $seed: $kills kills; killed during:$(awk '{print $4}' "$work/kills" | sort | uniq -c |
    awk '{printf " %s %d", $2, $1}')"
echo "temporary files and folders found after the kills: $temporaries_total (left after the next start: counted as failures)"
echo "movies the store did not name at a kill: $orphans_listed listed by the next start (finished), $orphans_removed removed by it (cut off)"
echo "movies probed: $probed; unlisted movies after a start: $unlisted_total; recordings now: $(movies_on_disk | wc -l)"
# What the operations reported (before a kill cut them off), most frequent first.
grep -h '^pindle-capture ' "$work/child.log" 2>/dev/null | sed 's/[0-9A-F-]\{36\}/GUID/g' |
    sort | uniq -c | sort -rn | head -5
echo "$((kills - failures > 0 ? kills : 0)) kills survived, $failures failed checks"
[[ $failures -eq 0 ]]
