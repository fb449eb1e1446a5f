#!/usr/bin/env bash
# A headless Wayland desktop for the screen-capture tests: sway (pixman, no input devices),
# PipeWire, WirePlumber, the desktop portal with the wlroots screen-cast backend, and a foot
# window whose picture keeps moving. No display, no GPU; everything runs as an unprivileged
# user on a private session bus, and `stop` ends exactly the processes `start` made.
#
#   rig.sh install        installs the packages of scripts/packages-wayland.txt
#   rig.sh start          builds the portal backend if needed and starts the desktop
#   rig.sh smoke          checks that the portal answers and a screen-cast session opens
#   rig.sh run CMD...     runs CMD as the rig's user, in the desktop's environment
#   rig.sh env            prints that environment
#   rig.sh press ID       presses the global shortcut ID of every client (fake backend)
#   rig.sh stop           stops what start started
#
# State (the runtime folder, logs, process ids) lives in $PINDLE_RIG_DIR, by default
# build/default/wayland-rig; the rebuilt portal backend beside it, in wayland-portal-backend.
# PINDLE_RIG_SCALE and PINDLE_RIG_MODE (1280x720) set the output's scale and pixels;
# PINDLE_RIG_CONTENT_DELAY the seconds between the
# moving pictures (0.05; 0 draws as fast as the terminal takes them).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
rig="${PINDLE_RIG_DIR:-$root/build/default/wayland-rig}"
# The rebuilt portal backend, shared by the rigs beside this one.
backend="$(dirname "$rig")/wayland-portal-backend"
user="${PINDLE_RIG_USER:-pindle-rig}"
scale="${PINDLE_RIG_SCALE:-1}"
mode="${PINDLE_RIG_MODE:-1280x720}"
content_delay="${PINDLE_RIG_CONTENT_DELAY:-0.05}"
run_dir="$rig/run"
pids="$rig/pids"
log_dir="$rig/log"

say() { echo "rig: $*" >&2; }
die() {
    say "$*"
    exit 1
}

install_packages() {
    "$root/scripts/install-deps" "$root/scripts/packages-wayland.txt"
}

# The stock wlroots backend asks the compositor for a DMA-BUF format, which a compositor
# without a GPU never has, and then refuses to cast. Rebuilt from Debian's source with that
# requirement dropped, it casts through shared memory.
build_backend() {
    [[ -x "$backend/xdg-desktop-portal-wlr" ]] && return 0
    mkdir -p "$backend"
    # One build for every rig of the tree, also when two start at once.
    (
        flock 9
        [[ -x "$backend/xdg-desktop-portal-wlr" ]] || build_backend_locked
    ) 9>"$backend/lock"
}

build_backend_locked() {
    local binary="$backend/xdg-desktop-portal-wlr"
    say "building the screen-cast portal backend from Debian's source"
    local work="$backend/work"
    local apt_state="$work/apt"
    rm -rf "$work"
    mkdir -p "$apt_state/lists/partial" "$apt_state/cache/archives/partial"
    echo "deb-src http://deb.debian.org/debian bookworm main" >"$apt_state/sources.list"
    local apt_options=(-q -o "Dir::State=$apt_state" -o "Dir::State::Lists=$apt_state/lists"
        -o "Dir::State::status=/var/lib/dpkg/status" -o "Dir::Cache=$apt_state/cache"
        -o "Dir::Etc::SourceList=$apt_state/sources.list" -o "Dir::Etc::SourceParts=/dev/null"
        -o "Debug::NoLocking=1" -o "APT::Sandbox::User=root")
    apt-get "${apt_options[@]}" update >"$work/apt.log" 2>&1 ||
        die "apt-get update failed; see $work/apt.log"
    (cd "$work" && apt-get "${apt_options[@]}" source xdg-desktop-portal-wlr) \
        >>"$work/apt.log" 2>&1 || die "apt-get source failed; see $work/apt.log"
    local source
    source="$(find "$work" -maxdepth 1 -type d -name 'xdg-desktop-portal-wlr-*' | head -n1)"
    [[ -n "$source" ]] || die "no unpacked source in $work"
    patch -d "$source" -p1 <<'EOF'
--- a/src/screencast/screencast.c
+++ b/src/screencast/screencast.c
@@ -196,9 +196,7 @@
 	wl_display_dispatch(cast->ctx->state->wl_display);
 	wl_display_roundtrip(cast->ctx->state->wl_display);
 
-	if (cast->screencopy_frame_info[WL_SHM].format == DRM_FORMAT_INVALID ||
-			(cast->ctx->state->screencast_version >= 3 &&
-			 cast->screencopy_frame_info[DMABUF].format == DRM_FORMAT_INVALID)) {
+	if (cast->screencopy_frame_info[WL_SHM].format == DRM_FORMAT_INVALID) {
 		logprint(INFO, "wlroots: unable to receive a valid format from wlr_screencopy");
 		return -1;
 	}
EOF
    (cd "$source" && meson setup build -Dsd-bus-provider=libsystemd -Dman-pages=disabled &&
        ninja -C build) >"$work/build.log" 2>&1 || die "building failed; see $work/build.log"
    install -m 755 "$source/build/xdg-desktop-portal-wlr" "$binary"
    rm -rf "$work"
}

ensure_user() {
    if ! id "$user" >/dev/null 2>&1; then
        useradd --system --user-group --create-home --home-dir "/var/lib/$user" \
            --shell /usr/sbin/nologin "$user"
    fi
}

# The environment of every process of the desktop, as NAME=VALUE words.
desktop_env() {
    local home
    home="$(getent passwd "$user" | cut -d: -f6)"
    echo "HOME=$home USER=$user PATH=/usr/local/bin:/usr/bin:/bin LANG=C.UTF-8" \
        "XDG_RUNTIME_DIR=$run_dir XDG_CURRENT_DESKTOP=sway XDG_SESSION_TYPE=wayland" \
        "DBUS_SESSION_BUS_ADDRESS=unix:path=$run_dir/bus WAYLAND_DISPLAY=wayland-1"
    if [[ -s "$run_dir/x-display" ]]; then
        echo "DISPLAY=$(cat "$run_dir/x-display")"
    fi
}

# as_user CMD...: CMD as the rig's user with the desktop's environment; exec'd, so the
# process id of a background call is CMD's own.
as_user() {
    # shellcheck disable=SC2046
    exec setpriv --reuid="$user" --regid="$user" --init-groups \
        env -i $(desktop_env) "${PINDLE_RIG_EXTRA_ENV[@]}" "$@"
}
PINDLE_RIG_EXTRA_ENV=()

# spawn NAME CMD...: starts CMD in the background as the rig's user and records its id.
spawn() {
    local name="$1"
    shift
    (as_user "$@") >"$log_dir/$name.log" 2>&1 &
    echo "$! $name" >>"$pids"
}

wait_for() {
    local what="$1" test="$2"
    for _ in $(seq 100); do
        if eval "$test"; then
            return 0
        fi
        sleep 0.1
    done
    die "$what did not come up; logs in $log_dir"
}

bus_has() {
    (as_user gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
        --method org.freedesktop.DBus.NameHasOwner "$1") 2>/dev/null | grep -q true
}

start() {
    if [[ -s "$pids" ]]; then
        say "stopping the desktop a previous run left behind"
        stop
    fi
    command -v sway >/dev/null || die "the Wayland packages are missing: run $0 install"
    build_backend
    ensure_user
    rm -rf "$run_dir" "$log_dir"
    mkdir -p "$run_dir" "$log_dir" "$rig/config"
    chmod 755 "$rig"
    chown "$user:$user" "$run_dir"
    chmod 700 "$run_dir"
    : >"$pids"

    # A bus with no service folder: nothing is started behind our back, so every daemon is
    # one of ours and stops by its id.
    cat >"$rig/config/bus.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=$run_dir/bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
EOF
    # XWayland where it is installed, for the program's windows; its display is written to
    # $run_dir/x-display.
    local xwayland=disable
    command -v Xwayland >/dev/null && xwayland=force
    cat >"$rig/config/sway" <<EOF
xwayland $xwayland
default_border none
for_window [title="^Pindle Capture$"] floating enable
output HEADLESS-1 resolution $mode position 0 0 scale $scale
exec echo "\$DISPLAY" >"$run_dir/x-display"
EOF
    # The screen chooser the portal shows: it answers what $run_dir/chooser-answer says (an
    # output's name, or nothing to cancel; HEADLESS-1 when the file is missing) and counts
    # each question in $run_dir/chooser.log.
    cat >"$rig/config/chooser.sh" <<EOF
#!/bin/sh
echo asked >>"$run_dir/chooser.log"
if [ -f "$run_dir/chooser-answer" ]; then cat "$run_dir/chooser-answer"; else echo HEADLESS-1; fi
EOF
    cat >"$rig/config/portal-backend" <<EOF
[screencast]
max_fps=60
chooser_type=simple
chooser_cmd=$rig/config/chooser.sh
EOF
    # A red block sweeping over a blue field, 20 pictures a second, each drawn in one
    # synchronized update so that no frame shows half of one.
    echo "delay=$content_delay" >"$rig/config/moving.sh"
    cat >>"$rig/config/moving.sh" <<'EOF'
x=0
printf '\e[?25l'
while :; do
    # The window's size each time: the compositor resizes it after the first pictures.
    read -r rows cols < <(stty size)
    ((x + 12 <= cols)) || x=0
    line_blue=$(printf '\e[44m%*s' "$cols" '')
    block=$(printf '\e[44m%*s\e[41m%*s\e[44m%*s' "$x" '' 12 '' $((cols - x - 12)) '')
    frame=$(printf '\e[?2026h\e[H'; for ((r = 0; r < rows; r++)); do
        if ((r == rows - 1)); then printf '%s' "$line_blue"; else printf '%s\n' "$block"; fi
    done; printf '\e[?2026l')
    printf '%s' "$frame"
    x=$(((x + 2) % (cols - 12)))
    sleep "$delay"
done
EOF
    chmod 644 "$rig/config/"*
    chmod 755 "$rig/config/chooser.sh"

    spawn dbus dbus-daemon --nofork --nopidfile --config-file="$rig/config/bus.conf"
    wait_for "the session bus" "[[ -S '$run_dir/bus' ]]"
    PINDLE_RIG_EXTRA_ENV=(WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman)
    spawn sway sway --config "$rig/config/sway"
    PINDLE_RIG_EXTRA_ENV=()
    wait_for "sway" "[[ -S '$run_dir/wayland-1' ]]"
    if [[ "$xwayland" == force ]]; then
        wait_for "XWayland" "[[ -s '$run_dir/x-display' ]]"
    fi
    spawn pipewire pipewire
    wait_for "PipeWire" "[[ -S '$run_dir/pipewire-0' ]]"
    spawn wireplumber wireplumber
    spawn permission-store /usr/libexec/xdg-permission-store --replace
    wait_for "the permission store" "bus_has org.freedesktop.impl.portal.PermissionStore"
    spawn portal-backend "$backend/xdg-desktop-portal-wlr" -l DEBUG \
        -c "$rig/config/portal-backend"
    wait_for "the portal backend" "bus_has org.freedesktop.impl.portal.desktop.wlr"
    # Global shortcuts, which the wlroots backend lacks, from a small fake backend where
    # python3-dbus is installed; the frontend finds it through a portal folder of our own.
    mkdir -p "$rig/portals"
    cp /usr/share/xdg-desktop-portal/portals/wlr.portal "$rig/portals/"
    if /usr/bin/python3 -c 'import dbus, gi' 2>/dev/null; then
        cat >"$rig/portals/pindletest.portal" <<EOF
[portal]
DBusName=org.freedesktop.impl.portal.desktop.pindletest
Interfaces=org.freedesktop.impl.portal.GlobalShortcuts;
UseIn=sway
EOF
        spawn shortcuts-backend /usr/bin/python3 "$root/tests/wayland/fake_shortcuts_backend.py"
        wait_for "the shortcuts backend" "bus_has org.freedesktop.impl.portal.desktop.pindletest"
    fi
    PINDLE_RIG_EXTRA_ENV=(XDG_DESKTOP_PORTAL_DIR="$rig/portals")
    spawn portal /usr/libexec/xdg-desktop-portal --replace
    PINDLE_RIG_EXTRA_ENV=()
    wait_for "the portal" "bus_has org.freedesktop.portal.Desktop"
    spawn foot foot --override=colors.background=000000 bash "$rig/config/moving.sh"
    sleep 1
    say "up: $(desktop_env | tr ' ' '\n' | grep -E '^(WAYLAND|DBUS|XDG_RUNTIME)' | xargs)"
}

# Whether a process runs: it exists and is not a zombie waiting for init to reap it.
alive() {
    local state
    state="$(ps -o stat= -p "$1" 2>/dev/null)" || return 1
    [[ -n "$state" && "$state" != Z* ]]
}

stop() {
    [[ -f "$pids" ]] || return 0
    # Last started first.
    tac "$pids" | while read -r pid name; do
        kill -TERM "$pid" 2>/dev/null || continue
        for _ in $(seq 30); do
            alive "$pid" || break
            sleep 0.1
        done
        if alive "$pid"; then
            say "$name ($pid) did not end; killing it"
            kill -KILL "$pid" 2>/dev/null || true
        fi
    done
    rm -f "$pids"
}

portal_call() {
    (as_user gdbus call --session --dest org.freedesktop.portal.Desktop \
        --object-path /org/freedesktop/portal/desktop "$@")
}

smoke() {
    local version
    version="$(portal_call --method org.freedesktop.DBus.Properties.Get \
        org.freedesktop.portal.ScreenCast version)" ||
        die "the portal does not answer"
    say "ScreenCast portal version: $version"
    local monitor="$log_dir/smoke-monitor.log"
    (as_user dbus-monitor --session "type='signal',interface='org.freedesktop.portal.Request'") \
        >"$monitor" 2>&1 &
    local monitor_pid=$!
    # The monitor gives up its bus name once it watches; a call before that goes unseen.
    for _ in $(seq 50); do
        grep -q 'member=NameLost' "$monitor" && break
        sleep 0.1
    done
    portal_call --method org.freedesktop.portal.ScreenCast.CreateSession \
        "{'handle_token': <'smoke'>, 'session_handle_token': <'smoke'>}" >/dev/null ||
        die "CreateSession failed"
    local ok=1
    for _ in $(seq 100); do
        if grep -q session_handle "$monitor"; then
            ok=0
            break
        fi
        sleep 0.1
    done
    kill "$monitor_pid" 2>/dev/null || true
    wait "$monitor_pid" 2>/dev/null || true
    ((ok == 0)) || die "no answer to CreateSession; see $monitor"
    grep -A1 'member=Response' "$monitor" | grep -q 'uint32 0' ||
        die "CreateSession was refused; see $monitor"
    say "a screen-cast session opens"
}

case "${1:-}" in
install) install_packages ;;
start) start ;;
stop) stop ;;
smoke) smoke ;;
run)
    shift
    as_user "$@"
    ;;
env) desktop_env ;;
press)
    (as_user gdbus call --session --dest org.freedesktop.impl.portal.desktop.pindletest \
        --object-path /org/freedesktop/portal/desktop \
        --method com.pindle.test.Shortcuts.Press "$2")
    ;;
*)
    echo "usage: $0 install|start|smoke|run CMD...|stop|env" >&2
    exit 2
    ;;
esac
