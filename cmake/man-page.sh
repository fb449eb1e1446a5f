#!/bin/sh
# Writes the manual page of the command line from the program's own --help, so the two
# cannot drift apart.
# Usage: man-page.sh PROGRAM VERSION OUTPUT (writes OUTPUT and OUTPUT.gz)
set -eu
program="$1"
version="$2"
output="$3"

# Text for roff: backslashes and hyphens escaped, a leading dot or quote made literal.
escape() {
    sed -e 's/\\/\\e/g' -e 's/-/\\-/g' -e "s/^\\([.']\\)/\\\\\\&\\1/"
}

help="$(env -u DISPLAY -u WAYLAND_DISPLAY "$program" --help)"
{
    printf '.TH PINDLE\\-CAPTURE 1 "" "pindle\\-capture %s" "User Commands"\n' "$version"
    # Long synopses break between words only.
    printf '.nh\n.ad l\n'
    printf '.SH NAME\n'
    printf 'pindle\\-capture \\- record part of the screen as a GIF, MP4 or JPEG\n'
    printf '.SH SYNOPSIS\n.nf\n'
    # The usage lines, up to the first empty line, without their "Usage:" label.
    printf '%s\n' "$help" | sed -n '/^$/q;s/^Usage: *//;s/^ *//;p' | escape
    printf '.fi\n.SH DESCRIPTION\n'
    printf 'Pindle Capture records a region of the screen into a rolling buffer and keeps its\n'
    printf 'captures in a library, from where they are edited and saved as GIF, MP4 or JPEG\n'
    printf 'files.\n'
    # The paragraph between the usage lines and the verbs.
    printf '.PP\n'
    printf '%s\n' "$help" | sed -n '/^$/,/^Verbs:/{/^$/d;/^Verbs:/d;p}' | escape
    printf '.SH OPTIONS\n'
    printf '.TP\n.B \\-\\-version\nPrint the version and exit.\n'
    printf '.TP\n.B \\-\\-help\nPrint the usage and the verbs and exit.\n'
    printf '.SH VERBS\n'
    # Each verb: a two-space indented synopsis, then its summary indented by six.
    printf '%s\n' "$help" | sed -n '/^Verbs:/,${/^Verbs:/d;p}' | while IFS= read -r line; do
        case "$line" in
        "      "*)
            printf '%s\n' "${line#      }" | escape
            ;;
        "  "*)
            synopsis="$(printf '%s\n' "${line#  }" | escape)"
            name="${synopsis%% *}"
            printf '.TP\n.B %s\n' "$name"
            if [ "$name" != "$synopsis" ]; then
                # The arguments in italics on the first line of the paragraph.
                printf '\\fI%s\\fR\n.br\n' "${synopsis#* }"
            fi
            ;;
        esac
    done
    printf '.SH ENVIRONMENT\n'
    printf '.TP\n.B PINDLE_CAPTURE_HOME\n'
    printf 'Keeps the library, the settings and the temporary files in this folder.\n'
    printf '.TP\n.B PINDLE_LOG\n'
    printf 'How much the program logs on standard error: error, warning, info (the default) or\n'
    printf 'debug.\n'
    printf '.SH FILES\n'
    printf '.TP\n.I ~/.local/share/pindle\\-capture/\n'
    printf 'The library: the recordings and their store.\n'
    printf '.TP\n.I ~/.config/pindle\\-capture/\n'
    printf 'The settings.\n'
    printf '.SH EXIT STATUS\n'
    printf '0 on success, 1 when a verb fails, 2 for a usage error.\n'
} >"$output"
gzip -9nc "$output" >"$output.gz"
