# A file that fails the CRC check: check and the CRC question say why, where that is known (the
# engine's tests have a row for each reason). A payload without an extension block (made here
# with dd from one with a block: data offset 40, the block's bytes dropped) tells only the
# reasons that need no block.
pattern original.bin 1200000 5
cp original.bin modified.bin
poke modified.bin 5000 'changed'
velkpatch create original.bin modified.bin -o patch.bin --payload-only > /dev/null
zeros small.bin 5000
zeros same-size.bin 1200000
printf 'PK\003\004zipped' > archive.zip
printf 'FILE "game.bin" BINARY\r\n  TRACK 01 MODE2/2352\r\n    INDEX 01 00:00:00\r\n' > game.cue
for target in small.bin same-size.bin archive.zip game.cue patch.bin; do
  velkpatch check patch.bin "$target"; echo "exit=$?"
done
velkpatch apply patch.bin archive.zip; echo "exit=$?"
{ head -c 28 patch.bin; printf '\050\000\000\000'; tail -c +33 patch.bin | head -c 8; tail -c +73 patch.bin; } > bare.bin
for target in small.bin archive.zip; do
  velkpatch check bare.bin "$target"; echo "exit=$?"
done
