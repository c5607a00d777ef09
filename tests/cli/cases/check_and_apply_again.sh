# A patch that records its result: check tells what apply would find, in each state; applying
# twice leaves the patched file as it is; check never writes.
pattern original.bin 200000 3
cp original.bin modified.bin
poke modified.bin 100 'PATCHED'
poke modified.bin 150000 'X'
velkpatch create original.bin modified.bin -o patch.bin --payload-only; echo "exit=$?"
cp original.bin target.bin
velkpatch check patch.bin target.bin; echo "exit=$?"
velkpatch apply patch.bin target.bin; echo "exit=$?"
velkpatch check patch.bin target.bin; echo "exit=$?"
touch -d '2001-01-01' target.bin
velkpatch apply patch.bin target.bin; echo "exit=$?"
cmp target.bin modified.bin && echo "target equals modified"
[[ $(stat -c %Y target.bin) == $(date -d '2001-01-01' +%s) ]] && echo "target not written again"
pattern other.bin 200000 4
cp other.bin other.copy
velkpatch check patch.bin other.bin; echo "exit=$?"
velkpatch apply patch.bin other.bin --no; echo "exit=$?"
cmp other.bin other.copy && echo "other left alone"
# Without the CRC check any file applies, and the patched file is still recognised.
velkpatch create original.bin modified.bin -o nocrc.bin --payload-only --no-crc; echo "exit=$?"
velkpatch check nocrc.bin other.bin; echo "exit=$?"
velkpatch check nocrc.bin modified.bin; echo "exit=$?"
# What check cannot tell.
velkpatch check patch.bin missing.bin; echo "exit=$?"
head -c 60 patch.bin > cut.bin
velkpatch check cut.bin target.bin; echo "exit=$?"
velkpatch check patch.bin; echo "exit=$?"
ls
