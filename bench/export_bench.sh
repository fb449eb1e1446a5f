#!/usr/bin/env bash
# GIF and MP4 export beside the reference tools, measured in one run.
#
#   bench/export_bench.sh [BUILD-DIR]
#   PARTS=mp4 bench/export_bench.sh    (only the MP4 rows; PARTS=gif only the GIF matrix)
#   CLIPS=alt bench/export_bench.sh    (a second set of GIF clips, to check that choices
#                                       made on one set hold on another)
#
# GIF: three 8-second clips, all-key-frame H.264 like the program's recordings: a flat
# screen UI with text, scrolling text, and photographic-like video. Each is exported at its
# own width, 480 and 320 wide, 15 frames per second, by
#   - pindle-capture export,
#   - ffmpeg's two-pass palette (palettegen + paletteuse, frames scaled with lanczos),
#   - gifski (from the npm package `gifski`, installed into a temporary folder on first use),
#     given PNG frames scaled with lanczos (the time counts gifski only).
# Every GIF is decoded and compared (SSIM) with the source frames scaled with lanczos to its
# size at 15 per second. The matrix prints each cell's ratios to the goals: SSIM at least
# gifski's, bytes at most gifski's, CPU time at most ffmpeg's; and the worst cell of each.
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
# Runs a command; sets cpu (user + system seconds, children included) and wall. CPU time is
# the figure compared: other work on the machine stretches wall time unevenly.
timed() {
    /usr/bin/time -f "%e %U %S" -o "$work/time.txt" "$@"
    read -r wall user system <"$work/time.txt"
    cpu=$(echo "$user + $system" | bc -l)
}
# Width and height of a video file.
dimensions() { ffprobe -v error -select_streams v:0 -show_entries stream=width,height -of csv=p=0:s=x "$1"; }

# SSIM of a GIF against the source scaled with lanczos to the GIF's size, at 15 per second.
ssim() {
    local size
    size="$(dimensions "$1")"
    ff -i "$1" -i "$2" -lavfi \
        "[0:v]fps=15,format=rgb24,format=yuv444p[a];\
         [1:v]fps=15,scale=${size/x/:}:flags=lanczos,format=yuv444p[b];[a][b]ssim=stats_file=-" \
        -f null - 2>/dev/null | awk '{for(i=1;i<=NF;i++) if ($i ~ /^All:/) {split($i,v,":"); s+=v[2]; n++}} END {printf "%.4f", s/n}'
}

echo "making the source clips..."
font=/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf
[[ -f "$font" ]] || font="$(fc-match -f '%{file}' sans)"
mono=/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf
[[ -f "$mono" ]] || mono="$font"
text="$work/text.txt"
for i in $(seq 1 80); do echo "line $i: int main() { return build_the_export_pipeline($i); } // comment"; done > "$text"
encode() { ff -f lavfi -i "$1" -t 8 -c:v libx264 -preset ultrafast -crf 12 -g 1 -pix_fmt yuv420p "$2"; }
clips="${CLIPS:-main}"
parts="${PARTS:-gif mp4}"
if [[ "$clips" == main ]]; then
    # Flat UI: panels, labels, a counter and a dialog that comes and goes, a moving pointer.
    encode "color=c=0xECEFF4:s=1280x720:r=30,\
drawbox=x=0:y=0:w=1280:h=40:color=0x2E3440:t=fill,\
drawtext=fontfile=$font:text='File   Edit   View   Window   Help':x=16:y=12:fontsize=16:fontcolor=white,\
drawbox=x=0:y=40:w=240:h=680:color=0xD8DEE9:t=fill,\
drawtext=fontfile=$font:textfile=$text:x=12:y=56:fontsize=13:fontcolor=0x3B4252:line_spacing=8,\
drawbox=x=280:y=80:w=960:h=600:color=white:t=fill,\
drawtext=fontfile=$font:text='Settings':x=300:y=96:fontsize=28:fontcolor=0x2E3440,\
drawtext=fontfile=$font:text='Frames captured %{n}':x=300:y=150:fontsize=18:fontcolor=0x5E81AC,\
drawbox=x=300:y=200:w=300:h=36:color=0x88C0D0:t=fill,\
drawtext=fontfile=$font:text='Save':x=420:y=208:fontsize=18:fontcolor=black,\
drawbox=x=520:y=300:w=420:h=220:color=0x4C566A@0.9:t=fill:enable='between(t,3,6)',\
drawtext=fontfile=$font:text='Export finished':x=560:y=340:fontsize=22:fontcolor=white:enable='between(t,3,6)',\
drawbox=x='300+80*t':y='420+30*sin(t*2)':w=12:h=18:color=black:t=fill" "$work/ui.mp4"
    # Scrolling code in an editor.
    encode "color=c=0x272822:s=1280x720:r=30,\
drawtext=fontfile=$mono:textfile=$text:x=60:y=20-t*60:fontsize=17:fontcolor=0xF8F8F2:line_spacing=5,\
drawbox=x=0:y=0:w=50:h=720:color=0x3E3D32:t=fill,\
drawbox=x=0:y=690:w=1280:h=30:color=0x75715E:t=fill,\
drawtext=fontfile=$mono:text='main.cpp  line %{n}':x=60:y=696:fontsize=16:fontcolor=white" "$work/scroll.mp4"
    # Video: a zoom into a fractal with shifting hue and film grain.
    encode "mandelbrot=s=960x540:r=30:start_scale=0.8:end_scale=0.3:end_pts=240,hue=h=t*12,noise=alls=6:allf=t" "$work/photo.mp4"
else
    # Another set: light theme with a table, a terminal, and a camera-like test picture.
    encode "color=c=white:s=1024x768:r=30,\
drawgrid=w=160:h=32:t=1:c=0xC0C0C0,\
drawtext=fontfile=$font:textfile=$text:x=8:y='8-mod(floor(t*2)*32,640)':fontsize=14:fontcolor=0x202020:line_spacing=17,\
drawbox=x=0:y=0:w=1024:h=32:color=0x3366CC:t=fill,\
drawtext=fontfile=$font:text='Sheet 1   row %{n}':x=12:y=8:fontsize=16:fontcolor=white,\
drawbox=x='100+50*t':y=300:w=160:h=32:color=0xFFEE88@0.6:t=fill" "$work/ui.mp4"
    encode "color=c=black:s=1280x800:r=30,\
drawtext=fontfile=$mono:textfile=$text:x=10:y=790-t*90:fontsize=15:fontcolor=0x33FF66:line_spacing=4,\
drawtext=fontfile=$mono:text='$ make -j2   [%{n}]':x=10:y=780:fontsize=15:fontcolor=white:box=1:boxcolor=black" "$work/scroll.mp4"
    encode "testsrc2=s=1280x720:r=30,hue=s=1.2,noise=alls=4:allf=t,gblur=sigma=0.6" "$work/photo.mp4"
fi

worst_ssim=9; worst_bytes=0; worst_time=0
worst_ssim_cell=""; worst_bytes_cell=""; worst_time_cell=""
if [[ " $parts " == *" gif "* ]]; then
    printf "\n%-7s %-6s %-8s %8s %8s %10s %7s\n" clip width tool "CPU s" "wall s" bytes SSIM
fi
for clip in ui scroll photo; do
    [[ " $parts " == *" gif "* ]] || break
    src="$work/$clip.mp4"
    own="$(dimensions "$src")"; own="${own%x*}"
    for width in "$own" 480 320; do
        size_arg=original; [[ "$width" != "$own" ]] && size_arg="$width"
        out="$work/$clip-$width"
        timed "$pindle" export "$src" --to "$out-ours.gif" --size "$size_arg" --rate standard >/dev/null 2>&1
        ours_t=$cpu; ours_b=$(bytes "$out-ours.gif"); ours_s=$(ssim "$out-ours.gif" "$src")
        printf "%-7s %-6s %-8s %8.2f %8.2f %10d %7s\n" "$clip" "$width" pindle "$cpu" "$wall" "$ours_b" "$ours_s"

        timed ffmpeg -nostdin -loglevel error -y -i "$src" -vf "fps=15,scale=$width:-2:flags=lanczos,split[a][b];[a]palettegen[p];[b][p]paletteuse" "$out-ffmpeg.gif"
        ff_t=$cpu; ff_b=$(bytes "$out-ffmpeg.gif"); ff_s=$(ssim "$out-ffmpeg.gif" "$src")
        printf "%-7s %-6s %-8s %8.2f %8.2f %10d %7s\n" "$clip" "$width" ffmpeg "$cpu" "$wall" "$ff_b" "$ff_s"

        if [[ -x "$gifski" ]]; then
            mkdir -p "$out-png"
            ff -i "$src" -vf "fps=15,scale=$width:-2:flags=lanczos" "$out-png/f%04d.png"
            timed "$gifski" -q --fps 15 --width "$width" -o "$out-gifski.gif" "$out-png"/f*.png
            gs_b=$(bytes "$out-gifski.gif"); gs_s=$(ssim "$out-gifski.gif" "$src")
            printf "%-7s %-6s %-8s %8.2f %8.2f %10d %7s\n" "$clip" "$width" gifski "$cpu" "$wall" "$gs_b" "$gs_s"
            rm -rf "$out-png"
        else
            gs_b=$ff_b; gs_s=$ff_s
            printf "%-7s %-6s gifski is not installable here; bytes and SSIM beside ffmpeg's\n" "$clip" "$width"
        fi
        rs=$(ratio "$ours_s" "$gs_s"); rb=$(ratio "$ours_b" "$gs_b"); rt=$(ratio "$ours_t" "$ff_t")
        printf "%-7s %-6s ratios   SSIM/gifski %s (>= 1)  bytes/gifski %s (<= 1)  CPU/ffmpeg %s (<= 1)\n" \
            "$clip" "$width" "$rs" "$rb" "$rt"
        cell="$clip at $width wide"
        if (( $(echo "$rs < $worst_ssim" | bc -l) )); then worst_ssim=$rs; worst_ssim_cell="$cell"; fi
        if (( $(echo "$rb > $worst_bytes" | bc -l) )); then worst_bytes=$rb; worst_bytes_cell="$cell"; fi
        if (( $(echo "$rt > $worst_time" | bc -l) )); then worst_time=$rt; worst_time_cell="$cell"; fi
    done
done
if [[ " $parts " == *" gif "* ]]; then
    printf "\nworst cells: SSIM/gifski %s (%s), bytes/gifski %s (%s), CPU/ffmpeg %s (%s)\n\n" \
        "$worst_ssim" "$worst_ssim_cell" "$worst_bytes" "$worst_bytes_cell" "$worst_time" "$worst_time_cell"
fi

# MP4: the same size (the composed movie is a copy of the recording's frames) and 640 wide
# (decoded, scaled and encoded again), each beside ffmpeg doing the same.
mp4_row() {
    local name="$1" ours_args="$2" scale="$3"
    local src="$work/ui.mp4" ours_t ff_t
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
echo "MP4: the UI clip ($(dimensions "$work/ui.mp4")), trim 2-6 s, ping-pong"
printf "%-9s %-26s %10s %12s\n" size tool seconds bytes
mp4_row 1280x720 "" ""
mp4_row 640x360 "--size 640" ",scale=640:-2:flags=bicubic"
