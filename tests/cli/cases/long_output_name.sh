# An OUTPUT name at the file system's limit of 255 bytes: the temporary file beside it takes a
# shortened name, so whatever OUTPUT fits also fits while it is written.
pattern original.bin 2000 26
cp original.bin modified.bin
poke modified.bin 3 'x'
name=$(printf 'n%.0s' $(seq 251)).bin
velkpatch create original.bin modified.bin -o "$name" --payload-only > /dev/null; echo "exit=$?"
cp original.bin target.bin
velkpatch apply "$name" target.bin; echo "exit=$?"
cmp target.bin modified.bin && echo "equal"
ls | wc -l
