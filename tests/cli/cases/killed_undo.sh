# An undo killed (SIGKILL) as soon as the target begins to change: the kept journal was sealed
# again before that, so recover plays it to the end, and the target is the original; killed
# before, the patched file and its kept journal are as they were, and undo then goes through.
native_only
pattern original.img 33554432 9
awk 'NR % 997 == 0 { sub("sample", "SAMPLE") } { print }' original.img | head -c 4194304 > modified.img
velkpatch create original.img modified.img -o patch.bin --payload-only --keep-undo > /dev/null
cp original.img target.img
velkpatch apply patch.bin target.img > /dev/null; echo "exit=$?"
velkpatch_killed_when_changed target.img undo patch.bin target.img
velkpatch recover target.img; echo "exit=$?"
cmp target.img original.img && echo "the original, after the killed undo and recover"
ls target.img.velk-undo 2>/dev/null || echo "no undo file left"
