#!/usr/bin/env bash
# Drags the editor's preview onto a drop target window of our own and checks that the drop
# brings the GIF file of the edit (and its image/gif bytes). Runs on a private Xvfb with
# openbox; the program runs with a library of its own holding one movie.
#
# Usage: drag_out.sh PINDLE-CAPTURE DROP-TARGET
set -uo pipefail
program="$1"
target="$2"
work="$(mktemp -d)"
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

exec 3< <(Xvfb -displayfd 1 -screen 0 1280x800x24 -nolisten tcp 2>/dev/null & echo "pid $!")
read -r line <&3; pids+=("${line#pid }")
read -r number <&3 || fail "Xvfb did not start"
export DISPLAY=":$number"
openbox >/dev/null 2>&1 & pids+=($!)

export PINDLE_CAPTURE_HOME="$work/home"
mkdir -p "$PINDLE_CAPTURE_HOME"
movie="$PINDLE_CAPTURE_HOME/0A1B2C3D-0000-4000-8000-00000000000C.mp4"
ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc2=size=320x240:rate=15 -t 2 \
    -c:v libx264 -preset ultrafast -pix_fmt yuv420p -g 1 "$movie" || fail "no test movie"
touch -d '2 hours ago' "$movie"

"$program" >"$work/app.log" 2>&1 & pids+=($!)
for _ in $(seq 50); do
    strip=$(xdotool search --onlyvisible --name '^Pindle Capture$' 2>/dev/null | head -1)
    [[ -n "$strip" ]] && break
    sleep 0.2
done
[[ -n "${strip:-}" ]] || fail "the capture window did not open"
sleep 1
eval "$(xdotool getwindowgeometry --shell "$strip")"
# The library strip's first capture: below the capture area, at its left.
xdotool mousemove $((X + 45)) $((Y + HEIGHT - 45)) click 1
for _ in $(seq 50); do
    editor=$(xdotool search --onlyvisible --name '^Editor' 2>/dev/null | head -1)
    [[ -n "$editor" ]] && break
    sleep 0.2
done
[[ -n "${editor:-}" ]] || fail "the editor did not open"
xdotool windowmove "$editor" 20 20
sleep 1
# The dragged GIF must be the export of the editor's edit.
"$program" export 1 --to "$work/expected.gif" >/dev/null 2>&1 || fail "the reference export failed"

"$target" >"$work/drops" 2>/dev/null & pids+=($!)
for _ in $(seq 50); do grep -q ready "$work/drops" && break; sleep 0.2; done
grep -q ready "$work/drops" || fail "the drop target did not open"

eval "$(xdotool getwindowgeometry --shell "$editor")"
# The preview is the top of the editor window.
xdotool mousemove $((X + WIDTH / 2)) $((Y + 100)) mousedown 1
for step in $(seq 1 20); do
    xdotool mousemove $((X + WIDTH / 2 + step * 3)) $((Y + 100))
    sleep 0.05
done
sleep 2  # the export the drag carries
for step in $(seq 1 20); do
    xdotool mousemove $((1000 + step * 6)) $((130 + step * 4))
    sleep 0.05
done
sleep 0.5
xdotool mouseup 1
for _ in $(seq 50); do grep -q '^drop ' "$work/drops" && break; sleep 0.2; done

file=$(sed -n 's/^drop //p' "$work/drops" | head -1)
[[ -n "$file" ]] || fail "nothing was dropped: $(cat "$work/drops")"
[[ -f "$file" ]] || fail "the dropped file $file does not exist"
[[ "$file" == "$PINDLE_CAPTURE_HOME"/tmp-*/*.gif ]] || fail "$file is not in the temporary folder"
cmp -s "$file" "$work/expected.gif" || fail "$file is not the GIF of the edit"
grep -q "^gif $(stat -c %s "$file")\$" "$work/drops" || fail "no image/gif of the same size offered"
echo "dropped $file"
cat "$work/drops"
exit 0
