# Failures of an application print the engine's message exactly and exit 1; a damaged payload
# leaves the target as it was.
pattern original.bin 3000 15
cp original.bin modified.bin
poke modified.bin 100 'XYZ'
velkpatch create original.bin modified.bin -o patch.bin --payload-only --no-crc > /dev/null
cp original.bin target.bin
velkpatch apply missing.bin target.bin; echo "exit=$?"
velkpatch apply patch.bin missing.bin; echo "exit=$?"
# Cut off inside the record's data, before the end record.
head -c 81 patch.bin > cut.bin
velkpatch apply cut.bin target.bin; echo "exit=$?"
cmp target.bin original.bin && echo "target untouched"
printf 'VELK-PATCH3.1' > newer.bin
head -c 40 /dev/zero >> newer.bin
velkpatch apply newer.bin target.bin; echo "exit=$?"
velkpatch apply original.bin target.bin; echo "exit=$?"
