# --no-crc records no check: the summary says 无 and any file is patched without a question.
pattern original.bin 3000 9
cp original.bin modified.bin
poke modified.bin 0 'HEAD'
velkpatch create original.bin modified.bin -o patch.bin --payload-only --no-crc; echo "exit=$?"
velkpatch info patch.bin; echo "exit=$?"
pattern other.bin 5000 10
velkpatch apply patch.bin other.bin; echo "exit=$?"
head -c 4 other.bin; echo
wc -c < other.bin
