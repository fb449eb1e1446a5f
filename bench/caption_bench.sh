#!/usr/bin/env bash
# GIF export with captions and a watermark, measured in one run beside
#   - the same export with nothing drawn (goal: at most 1.15 times its time),
#   - ffmpeg doing the same work: drawtext with a border and a shadow for each caption,
#     enabled between its times, overlay of the watermark, then its palette GIF
#     (palettegen + paletteuse),
# and the drawing of one 1280x720 frame (bench/caption_draw_bench, goal: 3 ms median).
#
#   bench/caption_bench.sh [BUILD-DIR]
#
# The source is a 10-second 1280x720 screen-like clip, all key frames like the program's
# recordings, exported at 640 wide and 15 frames per second. Each time is the median of
# three runs.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
build="$(cd "${1:-$here/../build/default}" && pwd)"
pindle="$build/pindle-capture"
[[ -x "$pindle" ]] || { echo "build pindle-capture first ($pindle)" >&2; exit 1; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export PINDLE_CAPTURE_HOME="$work/home"
export PINDLE_LOG=error
mkdir -p "$PINDLE_CAPTURE_HOME"

ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }
now() { date +%s.%N; }
# Median of three runs of a command, in seconds.
timed() {
    local runs=()
    for _ in 1 2 3; do
        local t0; t0=$(now)
        "$@" >/dev/null 2>&1
        runs+=("$(echo "$(now) - $t0" | bc -l)")
    done
    printf "%s\n" "${runs[@]}" | sort -g | sed -n 2p
}

echo "making the source clip and the watermark..."
font=/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf
[[ -f "$font" ]] || font="$(fc-match -f '%{file}' sans)"
text="$work/text.txt"
for i in $(seq 1 80); do echo "line $i: int main() { return build_the_export_pipeline($i); } // comment"; done > "$text"
movie="$PINDLE_CAPTURE_HOME/0A1B2C3D-0000-4000-8000-0000000000BE.mp4"
ff -f lavfi -i "color=c=0xECEFF4:s=1280x720:r=30:d=10" -vf \
    "drawbox=x=0:y=0:w=1280:h=40:color=0x2E3440:t=fill,\
drawbox=x=0:y=40:w=260:h=680:color=0xD8DEE9:t=fill,\
drawbox=x=300:y=80:w=940:h=600:color=white:t=fill,\
drawtext=fontfile=$font:textfile=$text:x=320:y=90-t*40:fontsize=18:fontcolor=0x3B4252:line_spacing=6,\
drawbox=x='200+60*t':y='300+20*sin(t*2)*5':w=12:h=18:color=black:t=fill" \
    -c:v libx264 -preset ultrafast -crf 12 -g 1 -pix_fmt yuv420p "$movie"
touch -d "1 hour ago" "$movie"
# 400x120, transparent around a translucent band with opaque text.
mark="$work/mark.png"
ff -f lavfi -i "color=c=black@0.0:s=400x120,format=rgba" -vf \
    "drawbox=x=0:y=30:w=400:h=60:color=black@0.35:t=fill,\
drawtext=fontfile=$font:text='pindle':x=(w-tw)/2:y=(h-th)/2:fontsize=48:fontcolor=white" \
    -frames:v 1 "$mark"

"$pindle" library >/dev/null 2>&1
plain=$(timed "$pindle" export 1 --to "$work/plain.gif" --size 640 --rate standard)

# The files the program embeds its two caption faces from.
nexa=/usr/share/fonts/opentype/league-spartan/LeagueSpartan-Black.otf
italic=/usr/share/fonts/truetype/open-sans/OpenSans-BoldItalic.ttf
"$pindle" caption 1 add --text "Watch this part" --from 1 --to 9 --animation fade --size lg --at 640,120 >/dev/null 2>&1
"$pindle" caption 1 add --text "sliding in" --from 2 --to 8 --animation move --size md --font italic --color yellow --at 640,360 >/dev/null 2>&1
"$pindle" caption 1 add --text "and dropping" --from 3 --to 10 --animation drop --size sm --at 640,570 >/dev/null 2>&1
"$pindle" watermark set "$mark" >/dev/null 2>&1
drawn=$(timed "$pindle" export 1 --to "$work/drawn.gif" --size 640 --rate standard)

# The same captions for ffmpeg: font sizes 0.20, 0.14, 0.10 of 720; border 3 % of the size;
# the watermark 400x120 fitted over 1280x720 (1280x384, 168 from the top).
dt() { # text font size colour y from to shadow-offset
    echo "drawtext=fontfile=$2:text='$1':fontsize=$3:fontcolor=$4:borderw=$(echo "$3 * 0.015" | bc -l | xargs printf '%.0f'):bordercolor=black:shadowcolor=black@0.3:shadowx=$8:shadowy=$8:x=(w-tw)/2:y=$5-th/2:enable='between(t,$6,$7)'"
}
graph="[1:v]scale=1280:384[m];[0:v]$(dt 'Watch this part' "$nexa" 144 white 120 1 9 4),$(dt 'sliding in' "$italic" 101 0xFFF35C 360 2 8 0),$(dt 'and dropping' "$nexa" 72 white 570 3 10 4)[c];[c][m]overlay=0:168,fps=15,scale=640:-2:flags=bicubic,split[a][b];[a]palettegen[p];[b][p]paletteuse"
ffmpeg_t=$(timed ffmpeg -nostdin -hide_banner -loglevel error -y -i "$movie" -i "$mark" -filter_complex "$graph" "$work/ffmpeg.gif")

ratio() { echo "scale=3; $1 / $2" | bc -l; }
printf "\n%-58s %9s %9s %7s\n" "GIF, 10 s 1280x720 at 640 wide, 15 fps" seconds reference ratio
printf "%-58s %9.2f %9.2f %7.2f\n" "3 captions + watermark vs the same export undrawn" "$drawn" "$plain" "$(ratio "$drawn" "$plain")"
printf "%-58s %9.2f %9.2f %7.2f\n" "3 captions + watermark vs ffmpeg drawtext/overlay/palette" "$drawn" "$ffmpeg_t" "$(ratio "$drawn" "$ffmpeg_t")"
printf "%-58s %9d %9d %7.2f\n" "bytes: ours vs ffmpeg" "$(stat -c %s "$work/drawn.gif")" "$(stat -c %s "$work/ffmpeg.gif")" \
    "$(ratio "$(stat -c %s "$work/drawn.gif")" "$(stat -c %s "$work/ffmpeg.gif")")"
echo
"$build/bench/caption_draw_bench" 2>/dev/null
