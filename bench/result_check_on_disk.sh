#!/usr/bin/env bash
# The result check as users feel it: the whole `velkpatch apply` on a real disk, side by side under
# hyperfine, on a velk_sample pair of MIB MiB (text edits, scattered bytes and fields, a few blocks
# replaced, growth). Three commands: the patch as create wrote it (the result verified), the same
# patch with its extension block spoilt (not verified), and that followed by `velkpatch check`,
# which reads the whole patched file for its CRC-32: what a full re-read would add. Before every
# run the target is copied afresh and the disk synced (untimed).
#   bench/result_check_on_disk.sh BUILD_DIR [FOLDER] [MIB] [RUNS]
set -euo pipefail
build=$(cd "${1:?usage: bench/result_check_on_disk.sh BUILD_DIR [FOLDER] [MIB] [RUNS]}" && pwd)
folder=${2:-${TMPDIR:-/tmp}}
mib=${3:-320}
runs=${4:-5}
command -v hyperfine > /dev/null || { echo "hyperfine is missing (scripts/install-deps.sh installs it)" >&2; exit 1; }
work=$(mktemp -d "$folder/velk-result-check.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
velkpatch=$build/bin/velkpatch
"$build/bin/velk_sample" original.img modified.img --size "$mib" --seed 1
"$velkpatch" create original.img modified.img -o verified.bin --payload-only
# The block's tag, spoilt: every reader then treats the payload as one without a block.
cp verified.bin unverified.bin
printf 'X' | dd of=unverified.bin bs=1 seek=40 conv=notrunc status=none
"$velkpatch" info verified.bin | tail -2
hyperfine --runs "$runs" --export-markdown results.md \
  --prepare 'cp original.img target.img && sync' \
  -n "apply, not verified" "$velkpatch apply unverified.bin target.img" \
  -n "apply, result verified" "$velkpatch apply verified.bin target.img" \
  -n "apply, then a full re-read" \
     "$velkpatch apply unverified.bin target.img && { $velkpatch check verified.bin target.img; test \$? = 4; }"
cat results.md
