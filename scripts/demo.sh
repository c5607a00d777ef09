#!/usr/bin/env bash
# The main job, end to end: builds velkpatch (and the Windows patcher when mingw-w64 is there),
# generates a deterministic sample pair of disc images, creates a self-applying patch, shows
# it with `info`, applies it to a copy of the original and checks the result byte for byte.
#
#   scripts/demo.sh                 48 MiB sample in build/demo
#   VELK_DEMO_MIB=400 scripts/demo.sh
#   BUILD_DIR=build/other scripts/demo.sh
set -euo pipefail
cd "$(dirname "$0")/.."

build=${BUILD_DIR:-build/native}
mib=${VELK_DEMO_MIB:-48}
demo=${VELK_DEMO_DIR:-build/demo}

step() { printf '\n== %s\n' "$*"; }
seconds() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$(seconds)" 'BEGIN { printf "%.2f s", b - a }'; }

step "build ($build)"
cmake --preset native -B "$build" >/dev/null
cmake --build "$build" --target velkpatch velk_sample
velkpatch="$build/bin/velkpatch"
stub_option=()
if [[ ! -f "$build/bin/velkstub.exe" ]]; then
  echo "(no velkstub.exe: mingw-w64 is missing, the patch is written as a bare payload)"
  stub_option=(--payload-only)
fi

step "sample images: ${mib} MiB, changes scattered through them"
mkdir -p "$demo"
rm -f "$demo"/*.img "$demo"/patch.exe
"$build/bin/velk_sample" "$demo/original.img" "$demo/modified.img" --size "$mib" --seed 1
printf '示例补丁 (velkpatch demo)\n把 original.img 变成 modified.img。\n' > "$demo/notes.txt"
ls -l "$demo"/original.img "$demo"/modified.img

step "velkpatch create"
t=$(seconds)
"$velkpatch" create "$demo/original.img" "$demo/modified.img" -o "$demo/patch.exe" \
  --description "$demo/notes.txt" "${stub_option[@]}"
echo "($(elapsed "$t"))"

step "velkpatch info"
"$velkpatch" info "$demo/patch.exe"

step "velkpatch apply"
cp "$demo/original.img" "$demo/target.img"
t=$(seconds)
"$velkpatch" apply "$demo/patch.exe" "$demo/target.img"
echo "($(elapsed "$t"))"

step "compare"
if cmp "$demo/target.img" "$demo/modified.img"; then
  echo "OK: the patched target.img equals modified.img byte for byte"
else
  echo "FAILED: target.img differs from modified.img" >&2
  exit 1
fi
