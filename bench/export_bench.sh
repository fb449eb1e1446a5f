#!/usr/bin/env bash
# GIF and MP4 export beside the reference tools, measured in one run.
#
#   bench/export_bench.sh [BUILD-DIR]
#   PARTS=mp4 bench/export_bench.sh    (only the MP4 rows; PARTS=gif only the GIF rows)
#
# GIF: a 10-second screen-recording-like clip (flat panels, scrolling text, a moving
# cursor) and a photographic-like clip, both 1280x720 all-key-frame H.264 like the program's
# recordings, exported at 640 wide and 15 frames per second by
#   - pindle-capture export,
#   - ffmpeg's two-pass palette (palettegen + paletteuse),
#   - gifski (from the npm package `gifski`, installed into a temporary folder on first use).
# Each GIF is decoded and compared with the source frames at the same size and rate (SSIM).
# MP4: trim 2-6 s and ping-pong of the 1280x720 screen clip, at its own size and at 640
# wide, each beside an equivalent ffmpeg command (reverse filter, concat, scale, libx264).
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
build="${1:-$here/../build/default}"
pindle="$(cd "$build" && pwd)/pindle-capture"
[[ -x "$pindle" ]] || { echo "build pindle-capture first ($pindle)" >&2; exit 1; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export PINDLE_CAPTURE_HOME="$work/home"
export PINDLE_LOG=error

gifski_dir="${GIFSKI_DIR:-/tmp/pindle-bench-gifski}"
gifski="$gifski_dir/node_modules/gifski/bin/debian/gifski"
if [[ ! -x "$gifski" ]]; then
    mkdir -p "$gifski_dir"
    (cd "$gifski_dir" && npm install --silent gifski >/dev/null 2>&1) || true
fi

ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }
now() { date +%s.%N; }
elapsed() { echo "$(now) - $1" | bc -l; }
bytes() { stat -c %s "$1"; }
ratio() { echo "scale=3; $1 / $2" | bc -l; }

# SSIM of a GIF against the source at 640 wide and 15 frames per second.
ssim() {
    ff -i "$1" -i "$2" -lavfi \
        "[0:v]fps=15,format=rgb24,scale=640:360:flags=bicubic,format=yuv444p[a];\
         [1:v]fps=15,scale=640:360:flags=bicubic,format=yuv444p[b];[a][b]ssim=stats_file=-" \
        -f null - 2>/dev/null | awk '{for(i=1;i<=NF;i++) if ($i ~ /^All:/) {split($i,v,":"); s+=v[2]; n++}} END {printf "%.4f", s/n}'
}

echo "making the source clips..."
font=/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf
[[ -f "$font" ]] || font="$(fc-match -f '%{file}' sans)"
text="$work/text.txt"
for i in $(seq 1 80); do echo "line $i: int main() { return build_the_export_pipeline($i); } // comment"; done > "$text"
ff -f lavfi -i "color=c=0xECEFF4:s=1280x720:r=30:d=10" -vf \
    "drawbox=x=0:y=0:w=1280:h=40:color=0x2E3440:t=fill,\
drawbox=x=0:y=40:w=260:h=680:color=0xD8DEE9:t=fill,\
drawbox=x=300:y=80:w=940:h=600:color=white:t=fill,\
drawtext=fontfile=$font:textfile=$text:x=320:y=90-t*40:fontsize=18:fontcolor=0x3B4252:line_spacing=6,\
drawbox=x=300:y=40:w=940:h=40:color=0xECEFF4:t=fill,\
drawtext=fontfile=$font:text='Editor':x=320:y=50:fontsize=20:fontcolor=0x2E3440,\
drawbox=x='200+60*t':y='300+20*sin(t*2)*5':w=12:h=18:color=black:t=fill" \
    -c:v libx264 -preset ultrafast -crf 12 -g 1 -pix_fmt yuv420p "$work/screen.mp4"
parts="${PARTS:-gif mp4}"
[[ " $parts " == *" gif "* ]] && ff -f lavfi -i "mandelbrot=s=1280x720:r=30:start_scale=0.8:end_scale=0.3:end_pts=300,trim=duration=10" \
    -vf "hue=h=t*12,noise=alls=6:allf=t" \
    -c:v libx264 -preset ultrafast -crf 12 -g 1 -pix_fmt yuv420p "$work/photo.mp4"

[[ " $parts " == *" gif "* ]] && printf "\n%-7s %-26s %10s %12s %8s\n" clip tool seconds bytes SSIM
for clip in screen photo; do
    [[ " $parts " == *" gif "* ]] || break
    src="$work/$clip.mp4"
    t0=$(now); "$pindle" export "$src" --to "$work/$clip-ours.gif" --size 640 --rate standard >/dev/null
    ours_t=$(elapsed "$t0"); ours_b=$(bytes "$work/$clip-ours.gif"); ours_s=$(ssim "$work/$clip-ours.gif" "$src")
    printf "%-7s %-26s %10.2f %12d %8s\n" "$clip" "pindle-capture export" "$ours_t" "$ours_b" "$ours_s"

    t0=$(now); ff -i "$src" -vf "fps=15,scale=640:-2:flags=bicubic,split[a][b];[a]palettegen[p];[b][p]paletteuse" "$work/$clip-ffmpeg.gif"
    ff_t=$(elapsed "$t0"); ff_b=$(bytes "$work/$clip-ffmpeg.gif"); ff_s=$(ssim "$work/$clip-ffmpeg.gif" "$src")
    printf "%-7s %-26s %10.2f %12d %8s\n" "$clip" "ffmpeg palettegen/use" "$ff_t" "$ff_b" "$ff_s"

    if [[ -x "$gifski" ]]; then
        mkdir -p "$work/$clip-png"
        ff -i "$src" -vf "fps=15,scale=640:-2:flags=bicubic" "$work/$clip-png/f%04d.png"
        t0=$(now); "$gifski" -q --fps 15 -o "$work/$clip-gifski.gif" "$work/$clip-png"/f*.png
        gs_t=$(elapsed "$t0"); gs_b=$(bytes "$work/$clip-gifski.gif"); gs_s=$(ssim "$work/$clip-gifski.gif" "$src")
        printf "%-7s %-26s %10.2f %12d %8s\n" "$clip" "gifski (PNG frames given)" "$gs_t" "$gs_b" "$gs_s"
        printf "%-7s time ours/ffmpeg %s (goal <= 1)   bytes ours/gifski %s (goal <= 1)   SSIM ours/gifski %s (goal >= 1)\n\n" \
            "$clip" "$(ratio "$ours_t" "$ff_t")" "$(ratio "$ours_b" "$gs_b")" "$(ratio "$ours_s" "$gs_s")"
    else
        printf "%-7s gifski is not installable here; compared with ffmpeg only\n" "$clip"
        printf "%-7s time ours/ffmpeg %s   bytes ours/ffmpeg %s   SSIM ours/ffmpeg %s\n\n" \
            "$clip" "$(ratio "$ours_t" "$ff_t")" "$(ratio "$ours_b" "$ff_b")" "$(ratio "$ours_s" "$ff_s")"
    fi
done

# MP4: the same size (the composed movie is a copy of the recording's frames) and 640 wide
# (decoded, scaled and encoded again), each beside ffmpeg doing the same.
mp4_row() {
    local name="$1" ours_args="$2" scale="$3"
    local src="$work/screen.mp4" ours_t ff_t
    t0=$(now); "$pindle" export "$src" --to "$work/$name-ours.mp4" --start 2 --end 6 --loop ping-pong $ours_args >/dev/null
    ours_t=$(elapsed "$t0")
    t0=$(now); ff -ss 2 -to 6 -i "$src" -filter_complex "[0:v]split[a][b];[b]reverse[r];[a][r]concat=n=2:v=1${scale}[v]" \
        -map "[v]" -c:v libx264 -preset veryfast -crf 18 "$work/$name-ffmpeg.mp4"
    ff_t=$(elapsed "$t0")
    printf "%-9s %-26s %10.2f %12d\n" "$name" "pindle-capture export" "$ours_t" "$(bytes "$work/$name-ours.mp4")"
    printf "%-9s %-26s %10.2f %12d\n" "$name" "ffmpeg reverse+concat" "$ff_t" "$(bytes "$work/$name-ffmpeg.mp4")"
    printf "%-9s time ours/ffmpeg %s (goal <= 1)\n\n" "$name" "$(ratio "$ours_t" "$ff_t")"
}
[[ " $parts " == *" mp4 "* ]] || exit 0
echo "MP4: 1280x720 screen clip, trim 2-6 s, ping-pong"
printf "%-9s %-26s %10s %12s\n" size tool seconds bytes
mp4_row 1280x720 "" ""
mp4_row 640x360 "--size 640" ",scale=640:-2:flags=bicubic"
