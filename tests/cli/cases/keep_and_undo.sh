# Taking a patch back from the command line. A patch made with --keep-undo keeps
# TARGET.velk-undo: check and apply say the file is already patched and that undo takes it back,
# recover leaves it alone; undo restores the original and removes it. A changed target is not
# restored, another patch is refused; apply --keep-undo keeps the journal of any patch, here a
# shrink, whose tail comes back too.
pattern original.bin 300000 3
cp original.bin modified.bin
poke modified.bin 100 'PATCHED'
head -c 200000 modified.bin > shrunk.bin
velkpatch create original.bin modified.bin -o patch.bin --payload-only --keep-undo > /dev/null
velkpatch create original.bin shrunk.bin -o other.bin --payload-only > /dev/null
cp original.bin target.bin
velkpatch apply patch.bin target.bin; echo "exit=$?"
velkpatch check patch.bin target.bin; echo "exit=$?"
velkpatch apply patch.bin target.bin; echo "exit=$?"
velkpatch recover target.bin; echo "exit=$?"
velkpatch apply other.bin target.bin --yes; echo "exit=$?"
cmp target.bin modified.bin && echo "target patched, undo file kept: $(ls target.bin.velk-undo)"
velkpatch undo patch.bin target.bin; echo "exit=$?"
cmp target.bin original.bin && ! ls target.bin.velk-undo 2> /dev/null && echo "the original, no undo file"
velkpatch undo patch.bin target.bin; echo "exit=$?"
velkpatch apply patch.bin target.bin > /dev/null; echo "exit=$?"
poke target.bin 250000 'edited by hand'
velkpatch undo patch.bin target.bin; echo "exit=$?"
velkpatch check patch.bin target.bin; echo "exit=$?"
cp original.bin target.bin && rm target.bin.velk-undo
velkpatch apply other.bin target.bin --keep-undo; echo "exit=$?"
velkpatch undo other.bin target.bin; echo "exit=$?"
cmp target.bin original.bin && echo "the original is back, tail and all"
