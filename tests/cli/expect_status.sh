#!/usr/bin/env bash
# Runs a command and passes only when it exits with exactly the given status (a crash or any
# other status fails) and its output holds what is asked for. The command runs with a fresh
# temporary PINDLE_CAPTURE_HOME, so it never touches a real library.
#
# Usage: expect_status.sh STATUS [CHECK]... -- COMMAND [ARGS...]
#   --stdout REGEX       a line of standard output matches (grep -E)
#   --stderr REGEX       a line of standard error matches
#   --stderr-once REGEX  exactly one line of standard error matches
set -uo pipefail

fail() { echo "FAIL: $*" >&2; exit 1; }

[[ $# -ge 3 ]] || fail "usage: expect_status.sh STATUS [CHECK]... -- COMMAND [ARGS...]"
expected="$1"
shift
checks=()
while [[ $# -gt 0 && "$1" != "--" ]]; do
    [[ $# -ge 2 ]] || fail "$1 needs a pattern"
    checks+=("$1" "$2")
    shift 2
done
[[ "${1:-}" == "--" ]] || fail "no -- before the command"
shift
[[ $# -gt 0 ]] || fail "no command"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export PINDLE_CAPTURE_HOME="$work/home"

"$@" >"$work/stdout" 2>"$work/stderr"
status=$?
cat "$work/stdout"
cat "$work/stderr" >&2

if [[ $status -gt 128 ]]; then
    fail "'$*' was killed by signal $((status - 128)); expected exit status $expected"
fi
[[ $status -eq $expected ]] || fail "'$*' exited with $status; expected $expected"

for ((i = 0; i < ${#checks[@]}; i += 2)); do
    kind="${checks[i]}"
    pattern="${checks[i + 1]}"
    case "$kind" in
    --stdout) grep -Eq -- "$pattern" "$work/stdout" || fail "no output line matches '$pattern'" ;;
    --stderr) grep -Eq -- "$pattern" "$work/stderr" || fail "no error line matches '$pattern'" ;;
    --stderr-once)
        count="$(grep -Ec -- "$pattern" "$work/stderr")"
        [[ $count -eq 1 ]] || fail "$count error lines match '$pattern'; expected one"
        ;;
    *) fail "unknown check $kind" ;;
    esac
done
echo "PASS: '$*' exited with $status"
