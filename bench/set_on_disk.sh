#!/usr/bin/env bash
# Sets on a real disk, whole processes side by side under hyperfine:
#   folder  1,000 files, 2 GiB in all, in 10 folders; 5 of them change (a few scattered lines
#           each), 2 are new and 1 goes away. `velkpatch apply` of the set against reading the 5
#           changed files' bytes once (cat), and against the way without sets: 5 single-file
#           patches applied one after another (the 2 new files and the removal left out).
#   tracks  a cue sheet and three tracks (700 MB, 60 MB, 40 MB): the cue sheet, the first and
#           the second track change. The set against reading those files once.
# Before every run the files the set changes are put back and the disk synced (untimed); the
# data stays in the page cache, as it is right after the user copied the game (COLD=1 drops the
# caches before every run too: root only).
#   bench/set_on_disk.sh BUILD_DIR [FOLDER] [RUNS]
set -eu  # no pipefail: yes ends by SIGPIPE in every pipe below
build=$(cd "${1:?usage: bench/set_on_disk.sh BUILD_DIR [FOLDER] [RUNS]}" && pwd)
folder=${2:-${TMPDIR:-/tmp}}
runs=${3:-5}
velkpatch=$build/bin/velkpatch
command -v hyperfine > /dev/null || { echo "hyperfine is missing (scripts/install-deps.sh installs it)" >&2; exit 1; }
work=$(mktemp -d "$folder/velk-bench-set.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
drop=""
[[ ${COLD:-0} == 1 ]] && drop=" && echo 3 > /proc/sys/vm/drop_caches"

# Changes a few lines spread through a file (the same length, as a translation's fixed tables).
scatter() { awk -v n="$2" 'NR % n == 0 { sub("sample", "SAMPLE") } { print }' "$1"; }

echo "== folder: 1,000 files, 2 GiB"
mkdir -p original
yes "velkpatch sample line of a game file" | head -c $((2147483 * 1000)) | split -b 2147483 -d -a 3 - original/f
for n in $(seq 0 9); do mkdir "original/data$n" && mv original/f${n}?? "original/data$n/"; done
changed=(data0/f001 data2/f250 data4/f433 data7/f702 data9/f999)
cp -al original modified
for f in "${changed[@]}"; do rm "modified/$f" && scatter "original/$f" 997 > "modified/$f"; done
rm modified/data5/f512
head -c 1048576 /dev/urandom > modified/data3/new-a.bin
head -c 1048576 /dev/urandom > modified/data8/new-b.bin
"$velkpatch" create original modified -o set.bin --payload-only
for f in "${changed[@]}"; do "$velkpatch" create "original/$f" "modified/$f" -o "single-${f//\//-}.bin" --payload-only > /dev/null; done
cp -al original target
restore="true"
for f in "${changed[@]}" data5/f512; do restore+=" && cp --remove-destination original/$f target/$f"; done
restore+=" && rm -f target/data3/new-a.bin target/data8/new-b.bin && sync$drop"
eval "$restore"
singles="true"
for f in "${changed[@]}"; do singles+=" && $velkpatch apply single-${f//\//-}.bin target/$f > /dev/null"; done
hyperfine --runs "$runs" --export-markdown folder.md --prepare "$restore" \
  -n "read the 5 changed files once" "cat ${changed[*]/#/target/} > /dev/null" \
  -n "velkpatch apply (the set)" "$velkpatch apply set.bin target > /dev/null" \
  -n "5 single-file patches, one after another" "$singles"
eval "$restore" && "$velkpatch" apply set.bin target > /dev/null && diff -r target modified && echo "the set gives the modified folder"
rm -rf original modified target set.bin single-*.bin

echo "== tracks: a cue sheet and three tracks, 700 MB, 60 MB and 40 MB"
mkdir original
yes "velkpatch sample line of track one" | head -c 700000000 > "original/game (Track 01).bin"
yes "velkpatch sample line of track two" | head -c 60000000 > "original/game (Track 02).bin"
yes "velkpatch sample line of track three" | head -c 40000000 > "original/game (Track 03).bin"
printf 'FILE "game (Track 01).bin" BINARY\n  TRACK 01 MODE2/2352\n' > original/game.cue
cp -al original modified
for t in 01 02; do rm "modified/game (Track $t).bin" && scatter "original/game (Track $t).bin" 4999 > "modified/game (Track $t).bin"; done
rm modified/game.cue && sed 's/MODE2/MODE1/' original/game.cue > modified/game.cue
"$velkpatch" create original modified -o set.bin --payload-only
cp -al original target
restore="cp --remove-destination original/game.cue target/game.cue"
for t in 01 02; do restore+=" && cp --remove-destination 'original/game (Track $t).bin' 'target/game (Track $t).bin'"; done
restore+=" && sync$drop"
eval "$restore"
hyperfine --runs "$runs" --export-markdown tracks.md --prepare "$restore" \
  -n "read the 3 changed files once" "cat target/game.cue 'target/game (Track 01).bin' 'target/game (Track 02).bin' > /dev/null" \
  -n "velkpatch apply (the set)" "$velkpatch apply set.bin 'target/game (Track 01).bin' > /dev/null"
eval "$restore" && "$velkpatch" apply set.bin target > /dev/null && diff -r target modified && echo "the set gives the modified folder"
cat folder.md tracks.md
