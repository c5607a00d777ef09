# A create that fails leaves no OUTPUT, no temporary file, and an existing OUTPUT untouched.
pattern original.bin 3000 13
cp original.bin modified.bin
poke modified.bin 5 'M'
velkpatch create original.bin missing.bin -o patch.bin --payload-only; echo "exit=$?"
velkpatch create missing.bin modified.bin -o patch.bin --payload-only; echo "exit=$?"
printf 'previous patch' > old.bin
velkpatch create original.bin modified.bin -o old.bin --stub original.bin; echo "exit=$?"
cat old.bin; echo
velkpatch create original.bin modified.bin -o no-such-folder/patch.bin --payload-only; echo "exit=$?"
ls
# A successful create replaces the old file.
velkpatch create original.bin modified.bin -o old.bin --payload-only; echo "exit=$?"
head -c 13 old.bin; echo
