#!/usr/bin/env bash
# Peak memory (maximum resident set size) of `velkpatch create` and `velkpatch apply` on sparse
# files larger than 4 GiB, measured with GNU time; apply writes its undo journal beside the target.
#   bench/peak_memory.sh BUILD_DIR [SIZE_GIB]
set -euo pipefail
build=${1:?usage: bench/peak_memory.sh BUILD_DIR [SIZE_GIB]}
gib=${2:-6}
velkpatch=$(find "$build" -name velkpatch -type f -perm -u+x | head -1)
[[ -x "$velkpatch" ]] || { echo "no velkpatch under $build" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

size=$((gib << 30))
truncate -s "$size" "$work/original.img"
truncate -s $((size + (1 << 30))) "$work/modified.img"   # the patched file is 1 GiB longer
# Scattered changes: 2000 runs of 1 KiB spread over the whole modified file.
python3 - "$work/modified.img" $((size + (1 << 30))) <<'PY'
import os, random, sys
path, size = sys.argv[1], int(sys.argv[2])
random.seed(5)
with open(path, "r+b") as f:
    for _ in range(2000):
        f.seek(random.randrange(0, size - 1024))
        f.write(os.urandom(1024))
PY

peak() {  # prints the peak resident set size in KiB of the command
  /usr/bin/time -f '%M' -o "$work/time.txt" "$@" >/dev/null 2>&1
  cat "$work/time.txt"
}

echo "| command | input | peak RSS (MiB) |"
echo "|---|---|---|"
kib=$(peak "$velkpatch" create "$work/original.img" "$work/modified.img" --payload-only -o "$work/patch.bin")
echo "| velkpatch create | $gib GiB original, $((gib + 1)) GiB modified (sparse) | $((kib / 1024)) |"
cp --sparse=always "$work/original.img" "$work/target.img"
kib=$(peak "$velkpatch" apply "$work/patch.bin" "$work/target.img" --yes)
echo "| velkpatch apply | $gib GiB target grown to $((gib + 1)) GiB, payload $(stat -c %s "$work/patch.bin") bytes | $((kib / 1024)) |"
cmp "$work/target.img" "$work/modified.img" && echo "(apply result identical to the modified file)"

# The largest record stream the application still holds in memory, and one just above it.
for records in 3300000 6700000; do
  python3 - "$work/stream.bin" "$records" <<'PY'
import struct, sys
path, n = sys.argv[1], int(sys.argv[2])
with open(path, "wb") as f:
    f.write(b"VELK-PATCH3.0".ljust(16, b"\0") + struct.pack("<qIIQ", 70 << 20, 0, 40, 0))
    f.write((b"\x01" + struct.pack("<IH", 10, 3) + b"abc") * n)
    f.write(b"\xff")
PY
  truncate -s 64M "$work/small.img"
  kib=$(peak "$velkpatch" apply "$work/stream.bin" "$work/small.img" --yes)
  echo "| velkpatch apply | record stream of $((records * 10)) bytes, 64 MiB target | $((kib / 1024)) |"
done

# A shrink: the undo journal saves the tail it cuts off (here 256 MiB) before the target changes.
truncate -s "$size" "$work/big.img"
python3 - "$work/shrink.bin" $((size - (256 << 20))) <<'PY'
import struct, sys
path, size = sys.argv[1], int(sys.argv[2])
with open(path, "wb") as f:
    f.write(b"VELK-PATCH3.0".ljust(16, b"\0") + struct.pack("<qIIQ", size, 0, 40, 0))
    f.write(b"\x01" + struct.pack("<IH", 12345, 3) + b"abc" + b"\xff")
PY
kib=$(peak "$velkpatch" apply "$work/shrink.bin" "$work/big.img" --yes)
echo "| velkpatch apply | $gib GiB target cut by 256 MiB (journal of the tail) | $((kib / 1024)) |"
