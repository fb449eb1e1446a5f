#!/usr/bin/env bash
# The program's help: --help lists every verb with a summary in one style, each verb answers
# --help with its own usage and refuses an unknown option as a usage error, and the manual
# page says what --help says.
# Usage: help.sh PINDLE_CAPTURE_BINARY MANUAL_PAGE
set -euo pipefail
program="$1"
manual="$2"
expect="$(dirname "$0")/expect_status.sh"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
squeeze() { tr -s ' ' <<<"$1"; }

"$expect" 0 --stdout '^Usage: pindle-capture ' -- "$program" --help >"$work/help"
"$expect" 0 --stdout '^pindle-capture [0-9]+\.[0-9]+\.[0-9]+$' -- "$program" --version

# The verbs' lines: a synopsis indented by two, its summary by six.
sed -n '/^Verbs:/,${/^Verbs:/d;p}' "$work/help" | grep -v '^PASS' >"$work/verbs"
mapfile -t synopses < <(grep -E '^  [a-z]' "$work/verbs" | sed 's/^  //')
mapfile -t summaries < <(grep -E '^      ' "$work/verbs" | sed 's/^      //')
[[ ${#synopses[@]} -ge 10 ]] || fail "--help lists ${#synopses[@]} verbs"
[[ ${#synopses[@]} -eq ${#summaries[@]} ]] || fail "a verb without its summary in --help"

# Rendered wide and in plain ASCII, so that no line breaks or typographic dashes come between
# the text here and the page's.
LC_ALL=C groff -man -Tascii -rLL=2000n -P-cbou <(zcat -f "$manual") | tr -s ' ' >"$work/manual"
grep -q '^ *pindle-capture VERB \[ARGS...\]$' "$work/manual" || fail "the manual has no synopsis"

for i in "${!synopses[@]}"; do
    synopsis="${synopses[i]}"
    summary="${summaries[i]}"
    verb="${synopsis%% *}"
    [[ "$summary" =~ ^[A-Z] ]] || fail "$verb's summary does not start with a capital: $summary"
    [[ "$summary" != *. ]] || fail "$verb's summary ends with a full stop: $summary"

    "$expect" 0 --stdout "^Usage: pindle-capture " -- "$program" "$verb" --help >"$work/verb"
    grep -qxF "Usage: pindle-capture $synopsis" "$work/verb" ||
        fail "'$verb --help' does not show the usage --help shows"
    grep -qxF "$summary" "$work/verb" || fail "'$verb --help' does not show its summary"
    "$expect" 2 --stderr-once "^pindle-capture $verb: " -- "$program" "$verb" --no-such-option

    # In the manual: the verb as a heading, then its arguments and summary.
    arguments="${synopsis#"$verb"}"
    grep -qE "^ *$verb( |$)" "$work/manual" || fail "the manual has no entry for $verb"
    [[ -z "$arguments" ]] || grep -qF -- "$(squeeze "${arguments# }")" "$work/manual" ||
        fail "the manual does not show $verb's arguments as --help does"
    grep -qF -- "$(squeeze "$summary")" "$work/manual" ||
        fail "the manual does not show $verb's summary as --help does"
done

# Options the program itself does not have are usage errors, not a start of the window.
"$expect" 2 --stderr-once "^pindle-capture: unknown option '--verbose'" -- "$program" --verbose
"$expect" 2 --stderr-once "^pindle-capture export: unknown option '--fps'" \
    -- "$program" export movie.mp4 --to out.gif --fps 10
echo "PASS: --help, each verb's --help and the manual agree on ${#synopses[@]} verbs"
