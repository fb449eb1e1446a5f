#!/usr/bin/env bash
# Builds the Debian package from the build folder, checks it as Debian's tools do, unpacks it
# into a fresh root, checks that every dependency it declares is installed or installable
# and covers every library the program loads, runs the unpacked program (--version and an
# export), and removes the root again.
#
# Usage: install_package.sh BUILD_DIR
set -euo pipefail
build="$(cd "$1" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")"
[[ -n "$version" ]] || fail "no project version in $build/CMakeCache.txt"

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log" >&2; fail "cpack failed"; }
deb="$work/out/pindle-capture_${version}_amd64.deb"
[[ -f "$deb" ]] || fail "cpack made no $(basename "$deb"): $(ls "$work/out")"

# Debian's checks: lintian (errors fail; warnings are shown), the desktop entry and the
# AppStream metadata.
lintian --fail-on error "$deb" ||
    fail "lintian reports errors"

root="$work/root"
dpkg-deb -x "$deb" "$root"
for file in usr/bin/pindle-capture \
    usr/share/applications/com.pindle.capture.desktop \
    usr/share/icons/hicolor/scalable/apps/com.pindle.capture.svg \
    usr/share/metainfo/com.pindle.capture.metainfo.xml \
    usr/share/man/man1/pindle-capture.1.gz \
    usr/share/doc/pindle-capture/copyright; do
    [[ -f "$root/$file" ]] || fail "the package has no /$file"
done
desktop-file-validate "$root/usr/share/applications/com.pindle.capture.desktop" ||
    fail "desktop-file-validate reports errors"
appstreamcli validate --no-net "$root/usr/share/metainfo/com.pindle.capture.metainfo.xml" ||
    fail "appstreamcli reports errors"
# The metadata names the desktop entry and the icon the package holds.
grep -q '<launchable type="desktop-id">com.pindle.capture.desktop</launchable>' \
    "$root/usr/share/metainfo/com.pindle.capture.metainfo.xml" ||
    fail "the metadata does not launch the packaged desktop entry"
grep -qx 'Icon=com.pindle.capture' "$root/usr/share/applications/com.pindle.capture.desktop" ||
    fail "the desktop entry does not name the packaged icon"

# Every declared dependency: one of its alternatives is installed, or can be installed, in a
# version the relation allows.
satisfied() {  # NAME [OP VERSION]
    local name="$1" op="${2:-}" wanted="${3:-}" have
    have="$(dpkg-query -W -f='${db:Status-Status} ${Version}' "$name" 2>/dev/null |
        sed -n 's/^installed //p')"
    if [[ -z "$have" ]]; then
        have="$(apt-cache policy "$name" 2>/dev/null | sed -n 's/^ *Candidate: //p')"
        [[ -n "$have" && "$have" != "(none)" ]] || return 1
    fi
    [[ -z "$op" ]] || dpkg --compare-versions "$have" "$op" "$wanted"
}
depends="$(dpkg-deb -f "$deb" Depends)"
[[ -n "$depends" ]] || fail "the package declares no dependencies"
IFS=',' read -ra relations <<<"$depends"
for relation in "${relations[@]}"; do
    ok=false
    IFS='|' read -ra alternatives <<<"$relation"
    for alternative in "${alternatives[@]}"; do
        read -r name op wanted <<<"$(sed -E 's/[()]/ /g' <<<"$alternative")"
        if satisfied "$name" "$op" "$wanted"; then
            ok=true
            break
        fi
    done
    $ok || fail "dependency '${relation# }' is neither installed nor installable"
done
echo "${#relations[@]} dependencies installed or installable"

# Every library the program needs directly comes from a package it depends on.
program="$root/usr/bin/pindle-capture"
declared=" $(sed -E 's/\([^)]*\)//g; s/[,|]/ /g' <<<"$depends") "
ldconfig -p >"$work/libraries"
while read -r library; do
    path="$(awk -v lib="$library" '$1 == lib && /x86-64/ {print $NF; exit}' "$work/libraries")"
    [[ -n "$path" ]] || fail "$library, which the program needs, is not installed"
    owner="$(dpkg -S "$(readlink -f "$path")" 2>/dev/null || dpkg -S "$path")"
    owner="${owner%%:*}"
    [[ "$declared" == *" $owner "* ]] || fail "$library comes from $owner, which is not a dependency"
done < <(objdump -p "$program" | awk '$1 == "NEEDED" {print $2}')

# The unpacked program runs: its version, and an export of a movie to a GIF.
export PINDLE_CAPTURE_HOME="$work/home"
unset DISPLAY WAYLAND_DISPLAY
[[ "$("$program" --version)" == "pindle-capture $version" ]] || fail "--version: $("$program" --version)"
ffmpeg -loglevel error -f lavfi -i testsrc=size=96x64:rate=10 -t 1 -pix_fmt yuv420p \
    -c:v libx264 "$work/movie.mp4"
"$program" export "$work/movie.mp4" --to "$work/movie.gif" >"$work/export.log" ||
    { cat "$work/export.log" >&2; fail "the packaged program's export failed"; }
[[ "$(head -c 6 "$work/movie.gif")" == GIF89a ]] || fail "the export wrote no GIF"
[[ -z "$(ls -A "$PINDLE_CAPTURE_HOME/tmp" 2>/dev/null)" ]] || fail "the export left temporary files"

rm -rf "$root"
[[ ! -e "$root" ]] || fail "the unpacked root could not be removed"
echo "PASS: $(basename "$deb") ($(du -k "$deb" | cut -f1) KiB) checks, unpacks, runs and is removed"
