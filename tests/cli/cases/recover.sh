# recover with nothing pending, beside a journal that never got its completion mark (removed),
# and beside names that are not a usable journal of the target: those are left alone (exit 1),
# and neither apply nor check will start beside them. A journal of the target damaged after it
# was complete is kept too, and said to be so.
pattern original.bin 5000 3
cp original.bin modified.bin
poke modified.bin 10 'abc'
velkpatch create original.bin modified.bin -o patch.bin --payload-only > /dev/null
cp original.bin target.bin
velkpatch recover target.bin; echo "exit=$?"
# What the power leaves of a journal cut off while it was being created: the start of its magic.
printf 'VELK-UN' > target.bin.velk-undo
velkpatch recover target.bin; echo "exit=$?"
[[ -e target.bin.velk-undo ]] || echo "unfinished journal removed"
echo "my notes" > target.bin.velk-undo
velkpatch recover target.bin; echo "exit=$?"
velkpatch apply patch.bin target.bin; echo "exit=$?"
velkpatch check patch.bin target.bin; echo "exit=$?"
cmp target.bin original.bin && echo "target untouched"
cat target.bin.velk-undo
rm target.bin.velk-undo
mkdir target.bin.velk-undo
velkpatch recover target.bin; echo "exit=$?"
rmdir target.bin.velk-undo
velkpatch recover missing.bin; echo "exit=$?"
velkpatch apply patch.bin target.bin; echo "exit=$?"
cmp target.bin modified.bin && echo "patched"
ls

pattern big.bin 8388608 4
awk 'NR % 97 == 0 { sub("sample", "SAMPLE") } { print }' big.bin > big-modified.bin
velkpatch create big.bin big-modified.bin -o big-patch.bin --payload-only > /dev/null
for attempt in 1 2 3 4 5; do
  cp big.bin big-target.bin
  velkpatch_killed_when_changed big-target.bin apply big-patch.bin big-target.bin
  [[ -e big-target.bin.velk-undo ]] && break
done
# One bit of its trailer flipped.
size=$(stat -c %s big-target.bin.velk-undo)
printf '\x01' | dd of=big-target.bin.velk-undo bs=1 seek=$((size - 100)) conv=notrunc status=none
cp big-target.bin mixed.bin
velkpatch recover big-target.bin; echo "exit=$?"
velkpatch apply big-patch.bin big-target.bin; echo "exit=$?"
cmp -s big-target.bin mixed.bin && [[ -e big-target.bin.velk-undo ]] && echo "journal kept, target untouched"
