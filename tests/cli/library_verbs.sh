#!/usr/bin/env bash
# The `info`, `library` and `export` verbs on a real movie and a store file written by hand.
# Usage: library_verbs.sh PINDLE_CAPTURE_BINARY
set -euo pipefail
program="$1"
home="$(mktemp -d)"
trap 'rm -rf "$home"' EXIT
export PINDLE_CAPTURE_HOME="$home"

fail() { echo "FAIL: $*" >&2; exit 1; }

ffmpeg -nostdin -loglevel error -f lavfi -i testsrc2=size=400x300:rate=20 -t 3 \
    -c:v libx264 -preset ultrafast -g 1 -pix_fmt yuv420p "$home/movie one.mp4"

info="$("$program" info "$home/movie one.mp4" --start 1 --end 2.5 --loop 2 --resize 1 --rate 1)"
echo "$info"
grep -qx "size: 400x300" <<<"$info" || fail "size"
grep -qx "frames: 60" <<<"$info" || fail "frame count"
grep -qx "thumbnail: 250x188" <<<"$info" || fail "thumbnail"
grep -qx "edited duration: 3.000 s" <<<"$info" || fail "ping-pong duration"
grep -qx "edited size: 640x480" <<<"$info" || fail "edited size"
grep -qx "edited frames: 69" <<<"$info" || fail "edited frames"
if "$program" info "$home/none.mp4" 2>/dev/null; then fail "missing movie accepted"; fi

url="file://$home/movie%20one.mp4"
cat >"$home/6168f305888c3d795e67c6de17bf8a21.txt" <<JSON
{"\$archiver":"PindleKeyedArchiver","\$version":1,"\$top":{"root":{"\$class":"NSMutableArray",
 "NS.objects":[
  {"\$class":"RCRecording","url":{"\$class":"NSURL","NS.string":"$url"},
   "editParameters":{"\$class":"RCEditParameters",
     "trimmedStartTime":{"value":600,"timescale":600,"flags":1},
     "trimmedEndTime":{"value":1200,"timescale":600,"flags":1},
     "loopType":1,"resizeValue":2,"frameRate":3,
     "captions":{"\$class":"NSMutableArray","NS.objects":[]}}},
  {"\$class":"RCRecording","url":{"\$class":"NSURL","NS.string":"file://$home/gone.mp4"}},
  {"\$class":"RCRecording"}]}}}
JSON
library="$("$program" library)"
echo "$library"
[[ "$(wc -l <<<"$library")" == 4 ]] || fail "expected a header, two recordings and a total"
# Newest first: the movie that is gone is item 1.
grep -E "^1 +gone.mp4 .* missing$" <<<"$library" >/dev/null || fail "item 1"
grep -E "^2 +movie one.mp4 +400x300 +3.000 +20.00 +60 +1.000-2.000 +Reverse +2 +3 +0 ready$" \
    <<<"$library" >/dev/null || fail "item 2"

# Exporting by item number uses the recording's own edits (1-2 s, reversed, 480 wide, 30
# per second), which options change for that export only.
probe() { ffprobe -v error -count_frames -show_entries stream=width,height,nb_read_frames \
    -show_entries format=duration -of csv=p=0 "$1" | tr '\n' ' '; }
"$program" export 2 --to "$home/two.gif" >/dev/null || fail "export of item 2"
[[ "$(probe "$home/two.gif")" == "480,360,30 1.000000 " ]] || fail "item 2 GIF: $(probe "$home/two.gif")"
"$program" export 2 --to "$home/two.mp4" --size 320 --loop normal >/dev/null || fail "mp4 export"
[[ "$(probe "$home/two.mp4")" == "320,240,20 1.000000 " ]] || fail "item 2 MP4: $(probe "$home/two.mp4")"
[[ "$("$program" library)" == "$library" ]] || fail "an export changed the library"
if "$program" export 1 --to "$home/one.gif" 2>/dev/null; then fail "missing movie exported"; fi
if "$program" export 3 --to "$home/three.gif" 2>/dev/null; then fail "item 3 exported"; fi
[[ ! -e "$home/one.gif" && ! -e "$home/three.gif" ]] || fail "failed exports left files"
echo "ok"
