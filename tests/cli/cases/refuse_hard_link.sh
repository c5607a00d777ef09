# A hard link is the same file under another name.
native_only
pattern original.bin 3000 12
cp original.bin modified.bin
poke modified.bin 5 'M'
ln original.bin link.bin
velkpatch create original.bin modified.bin -o link.bin --payload-only; echo "exit=$?"
cmp original.bin link.bin && echo "original unchanged"
