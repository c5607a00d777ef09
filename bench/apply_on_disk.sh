#!/usr/bin/env bash
# The whole process on a real disk, side by side under hyperfine: `velkpatch apply` (undo journal
# and flushes included), the engine without its journal, and the literal record loop (four reads,
# a seek and a write per record, nothing flushed), on velk_bench_apply's dense case: 620,000
# records over a 64 MiB target. Before every run the target is copied afresh and the disk synced
# (untimed), so that no run pays for the previous one's writes.
#   bench/apply_on_disk.sh BUILD_DIR [FOLDER] [RUNS]
set -euo pipefail
build=$(cd "${1:?usage: bench/apply_on_disk.sh BUILD_DIR [FOLDER] [RUNS]}" && pwd)
folder=${2:-${TMPDIR:-/tmp}}
runs=${3:-5}
command -v hyperfine > /dev/null || { echo "hyperfine is missing (scripts/install-deps.sh installs it)" >&2; exit 1; }
work=$(mktemp -d "$folder/velk-bench-disk.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
"$build/bench/velk_bench_apply" --case=dense --files-only=yes --dir="$work" > /dev/null
mv velk-bench-target.img original.img
hyperfine --runs "$runs" --export-markdown results.md \
  --prepare 'cp original.img target.img && sync' \
  -n "literal record loop" "$build/bench/velk_bench_apply --once=literal --patch=velk-bench-patch.bin --target=target.img" \
  -n "engine without journal" "$build/bench/velk_bench_apply --once=unjournaled --patch=velk-bench-patch.bin --target=target.img" \
  -n "velkpatch apply" "$build/bin/velkpatch apply velk-bench-patch.bin target.img"
cat results.md
