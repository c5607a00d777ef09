# A bare payload: create, info, apply, and the result equals the modified file byte for byte.
pattern original.bin 300000 1
cp original.bin modified.bin
poke modified.bin 10 'ABC'
poke modified.bin 20 'D'              # gap of 7 after the first run
poke modified.bin 150000 'EFGH'
poke modified.bin 299999 'Z'
velkpatch create original.bin modified.bin -o patch.bin --payload-only; echo "exit=$?"
velkpatch info patch.bin; echo "exit=$?"
cp original.bin target.bin
velkpatch apply patch.bin target.bin; echo "exit=$?"
cmp target.bin modified.bin && echo "target equals modified"
