# A file that fails the CRC check: check and the CRC question say why, where that is known; one
# row per reason. Only the file's first few KiB are read for it. A payload without an extension
# block (made here with dd from one with a block, data offset 40 and the block's bytes dropped)
# gets only the reasons that need no block.
pattern original.bin 1200000 5
cp original.bin modified.bin
poke modified.bin 5000 'changed'
velkpatch create original.bin modified.bin -o patch.bin --payload-only > /dev/null
zeros small.bin 5000
printf 'PK\003\004zipped' > archive.zip
printf '7z\274\257\047\034seven' > archive.7z
printf 'Rar!\032\007\001\000rar' > archive.rar
printf '\037\213\010gz' > archive.gz
printf '\3757zXZ\000xz' > archive.xz
printf 'FILE "game.bin" BINARY\r\n  TRACK 01 MODE2/2352\r\n    INDEX 01 00:00:00\r\n' > game.cue
: > empty.bin
head -c 1200000 /dev/zero > zeros.bin
for target in small.bin archive.zip archive.7z archive.rar archive.gz archive.xz patch.bin game.cue empty.bin zeros.bin; do
  velkpatch check patch.bin "$target"; echo "exit=$?"
done
# The question itself, as apply asks it.
velkpatch apply patch.bin archive.zip; echo "exit=$?"
# Without the block: the size and the cue sheet are not told.
{ head -c 28 patch.bin; printf '\050\000\000\000'; tail -c +33 patch.bin | head -c 8; tail -c +73 patch.bin; } > bare.bin
for target in small.bin game.cue archive.zip empty.bin; do
  velkpatch check bare.bin "$target"; echo "exit=$?"
done
