# Taking a patch back. A patch made with --keep-undo keeps TARGET.velk-undo after it is applied;
# check, apply and recover leave it alone and say so; undo restores the original (checked by its
# CRC-32) and removes it; then the patch applies again. An undo file whose target has changed
# since is never played, and one kept by another patch stands in the way of every other patch.
# apply --keep-undo keeps it for any patch. An undo killed halfway is finished by recover.
pattern original.bin 300000 3
cp original.bin modified.bin
poke modified.bin 100 'PATCHED'
head -c 200000 modified.bin > shrunk.bin
velkpatch create original.bin modified.bin -o patch.bin --payload-only --keep-undo; echo "exit=$?"
cp original.bin target.bin
velkpatch apply patch.bin target.bin; echo "exit=$?"
ls target.bin.velk-undo
velkpatch check patch.bin target.bin; echo "exit=$?"
velkpatch apply patch.bin target.bin; echo "exit=$?"
velkpatch recover target.bin; echo "exit=$?"
cmp target.bin modified.bin && echo "target patched, undo file kept"
velkpatch undo patch.bin target.bin; echo "exit=$?"
cmp target.bin original.bin && echo "target is the original again"
ls target.bin.velk-undo 2>/dev/null || echo "no undo file"
velkpatch undo patch.bin target.bin; echo "exit=$?"
# Applied again; then the target changes: the undo file can no longer restore it.
velkpatch apply patch.bin target.bin; echo "exit=$?"
poke target.bin 250000 'edited by hand'
velkpatch undo patch.bin target.bin; echo "exit=$?"
velkpatch check patch.bin target.bin; echo "exit=$?"
rm target.bin.velk-undo
# Another patch meets a kept undo file: refused, nothing changed.
cp original.bin target.bin
velkpatch apply patch.bin target.bin > /dev/null; echo "exit=$?"
velkpatch create original.bin shrunk.bin -o other.bin --payload-only > /dev/null
cp target.bin before.bin
velkpatch apply other.bin target.bin --yes; echo "exit=$?"
cmp target.bin before.bin && echo "target untouched"
velkpatch undo other.bin target.bin; echo "exit=$?"
velkpatch undo patch.bin target.bin > /dev/null; echo "exit=$?"
# Any patch with apply --keep-undo, here one that shrinks the file.
velkpatch apply other.bin target.bin --keep-undo; echo "exit=$?"
cmp target.bin shrunk.bin && echo "target shrunk, undo file kept: $(ls target.bin.velk-undo)"
velkpatch undo other.bin target.bin; echo "exit=$?"
cmp target.bin original.bin && echo "the original is back, tail and all"
