#!/usr/bin/env bash
# Runs one command-line test case: cases/NAME.sh runs in a fresh folder with `velkpatch` bound to
# the program under test (natively, or a Windows build through its emulator). What it prints on
# stdout and stderr and the code it exits with are compared with cases/NAME.stdout.exp,
# cases/NAME.stderr.exp and cases/NAME.exit (0 when absent). Line ends are compared without CR.
#
#   run_case.sh NAME PROGRAM [EMULATOR...]
#   VELK_UPDATE_EXPECTED=1 run_case.sh ...   rewrites the expected files from this run
set -uo pipefail

name=$1
shift
cases=$(cd "$(dirname "$0")/cases" && pwd)
program=()
for word in "$@"; do
  # The case runs in its own folder: relative program paths are made absolute first.
  [[ $word == */* && -e $word && $word != /* ]] && word="$(cd "$(dirname "$word")" && pwd)/$(basename "$word")"
  program+=("$word")
done
[[ -f "$cases/$name.sh" ]] || { echo "no such case: $name" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/velk-cli-$name.XXXXXX")
trap 'rm -rf "$work"' EXIT
out="$work/.out"
mkdir "$out" "$work/run"

# A Windows build runs under an emulator; a few cases only make sense natively.
emulated=0
[[ ${#program[@]} -gt 1 ]] && emulated=1

(
  cd "$work/run" || exit 99
  velkpatch() { "${program[@]}" "$@"; }
  # In the background, with $! the program itself (not a subshell), so that signals reach it.
  velkpatch_background() { "${program[@]}" "$@" & }
  # Runs velkpatch with the arguments after FILE and kills it (SIGKILL) as soon as FILE changes.
  velkpatch_killed_when_changed() {
    local file=$1 before
    shift
    before=$(stat -c %y "$file")
    "${program[@]}" "$@" > /dev/null 2>&1 &
    local pid=$!
    while kill -0 $pid 2>/dev/null && [[ $(stat -c %y "$file") == "$before" ]]; do :; done
    kill -KILL $pid 2>/dev/null
    wait $pid 2>/dev/null
  }
  # Writes bytes given as a printf format at an offset of a file, creating it when needed.
  poke() { printf "$3" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none; }
  # A file of SIZE bytes of text-like content that depends on SEED.
  pattern() { yes "velkpatch sample line $3 $(printf '%05d' "$3")" | head -c "$2" > "$1"; }
  zeros() { head -c "$2" /dev/zero > "$1"; }
  native_only() { [[ $emulated -eq 0 ]] || { echo "(native only)"; exit 0; }; }
  # Skips the case unless it runs as root (giving a file to another owner needs root).
  root_only() { [[ $(id -u) -eq 0 ]] || { echo "(root only)"; exit 0; }; }
  # velkpatch with a pseudo-terminal as its standard streams (script from util-linux); what it
  # shows there arrives on stdout. script runs the command through $SHELL, which may be a shell
  # that cannot read bash's $'...' quoting, so bash is named.
  velkpatch_on_terminal() { SHELL=$BASH script -qec "$(printf '%q ' "${program[@]}" "$@")" /dev/null; }
  export -f poke pattern zeros 2>/dev/null
  source "$cases/$name.sh"
) </dev/null >"$out/stdout" 2>"$out/stderr"
code=$?
[[ $code -eq 99 ]] && { echo "cannot enter $work/run" >&2; exit 1; }

if [[ $emulated -eq 1 && "$(head -1 "$out/stdout")" == "(native only)" ]]; then
  echo "$name: skipped under the emulator"
  exit 0
fi
if [[ "$(head -1 "$out/stdout")" == "(root only)" ]]; then
  echo "$name: skipped, not run as root"
  exit 0
fi

tr -d '\r' < "$out/stdout" > "$out/stdout.n"
tr -d '\r' < "$out/stderr" > "$out/stderr.n"

if [[ ${VELK_UPDATE_EXPECTED:-0} == 1 ]]; then
  cp "$out/stdout.n" "$cases/$name.stdout.exp"
  cp "$out/stderr.n" "$cases/$name.stderr.exp"
  if [[ $code -ne 0 ]]; then echo "$code" > "$cases/$name.exit"; else rm -f "$cases/$name.exit"; fi
  echo "$name: expected files rewritten"
  exit 0
fi

status=0
expected_code=0
[[ -f "$cases/$name.exit" ]] && expected_code=$(cat "$cases/$name.exit")
if [[ $code -ne $expected_code ]]; then
  echo "$name: exit code $code, expected $expected_code"
  status=1
fi
for stream in stdout stderr; do
  if [[ -f "$cases/$name.$stream.exp" ]] && ! diff -u "$cases/$name.$stream.exp" "$out/$stream.n" \
      --label "expected $stream" --label "actual $stream"; then
    status=1
  fi
done
[[ $status -eq 0 ]] && echo "$name: ok"
exit $status
