#!/usr/bin/env bash
# velkpatch beside the crash-safe floor (bench/floor.cpp), the whole process on the disk, under
# hyperfine, in rounds that alternate the two so that the machine's load falls on both alike:
#   iso     apply to the real-data pair (bench/iso_pair.sh)    velkpatch apply | floor apply
#   dense   apply, 620,000 records over 64 MiB                 velkpatch apply | floor apply
#   crc     a cached 1 GiB target, a payload that changes      velkpatch apply --no | aligned read
#           nothing: the CRC check alone
#   create  the real-data pair                                 velkpatch create | reading both once
# Before every apply the target is copied afresh and the disk synced (untimed); every input is in
# the page cache. Prints one Markdown table: medians over all runs, their range, and the ratio.
# VELKPATCH names another velkpatch to time in place of BUILD_DIR's (an older build, say).
#   bench/floor_on_disk.sh BUILD_DIR [FOLDER] [ROUNDS] [CASES]
set -euo pipefail
build=$(cd "${1:?usage: bench/floor_on_disk.sh BUILD_DIR [FOLDER] [ROUNDS] [CASES]}" && pwd)
folder=${2:-${TMPDIR:-/tmp}}
rounds=${3:-5}
cases=${4:-iso dense crc create}
here=$(cd "$(dirname "$0")" && pwd)
command -v hyperfine > /dev/null || { echo "hyperfine is missing (scripts/install-deps.sh installs it)" >&2; exit 1; }
velk=${VELKPATCH:-$build/bin/velkpatch}
floor="$build/bench/velk_bench_floor"

# The inputs stay between runs of the script: the real-data pair takes a while to make.
work="$folder/velk-floor"
mkdir -p "$work"
cd "$work"
trap 'rm -f target.* out.bin "$work"/*.json' EXIT
[[ -f original.iso && -f modified.iso ]] || "$here/iso_pair.sh" "$work" > /dev/null
[[ -f iso.bin ]] || "$velk" create original.iso modified.iso -o iso.bin --payload-only > /dev/null
if [[ ! -f dense.bin ]]; then
  "$build/bench/velk_bench_apply" --case=dense --files-only=yes --dir="$work" > /dev/null
  mv velk-bench-patch.bin dense.bin
  mv velk-bench-target.img dense.img
fi
if [[ ! -f big.img ]]; then
  cat original.iso original.iso original.iso original.iso > big.img
  truncate -s 1G big.img
  "$velk" create big.img big.img -o same.bin --payload-only > /dev/null
fi

# One case: hyperfine NAME_A CMD_A NAME_B CMD_B [PREPARE], ROUNDS times, one run each per round.
run_case() {
  local case=$1 prepare=$6
  local args=(--runs 1 --style none)
  [[ -n $prepare ]] && args+=(--prepare "$prepare") || args+=(--warmup 1)
  for ((round = 1; round <= rounds; round++)); do
    hyperfine "${args[@]}" --export-json "$case-$round.json" -i -n "$2" "$3" -n "$4" "$5" > /dev/null
  done
}

for case in $cases; do
  case $case in
  iso) run_case iso "velkpatch apply" "$velk apply iso.bin target.iso" "floor" \
         "$floor apply iso.bin target.iso" "cp original.iso target.iso && sync" ;;
  dense) run_case dense "velkpatch apply" "$velk apply dense.bin target.img" "floor" \
         "$floor apply dense.bin target.img" "cp dense.img target.img && sync" ;;
  crc) run_case crc "velkpatch apply --no" "$velk apply same.bin big.img --no" "aligned read" \
         "$floor read big.img" "" ;;
  create) run_case create "velkpatch create" "$velk create original.iso modified.iso -o out.bin --payload-only" \
         "reading both once" "$floor read original.iso modified.iso" "" ;;
  *) echo "unknown case $case" >&2; exit 2 ;;
  esac
done

echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
python3 - "$rounds" $cases <<'EOF'
import json, statistics, sys
rounds, cases = int(sys.argv[1]), sys.argv[2:]
print("| case | velkpatch | median s (range) | floor | median s (range) | ratio of medians |")
print("|---|---|---|---|---|---|")
for case in cases:
    times = {}
    for r in range(1, rounds + 1):
        for result in json.load(open(f"{case}-{r}.json"))["results"]:
            times.setdefault(result["command"], []).extend(result["times"])
    (a, ta), (b, tb) = times.items()
    span = lambda t: f"{statistics.median(t):.3f} ({min(t):.3f} to {max(t):.3f})"
    print(f"| {case} | {a} | {span(ta)} | {b} | {span(tb)} | {statistics.median(ta) / statistics.median(tb):.2f} |")
EOF
