# OUTPUT is never one of the inputs, however it is spelled; the inputs stay as they were.
pattern original.bin 3000 11
cp original.bin keep.bin
cp original.bin modified.bin
poke modified.bin 5 'M'
cp modified.bin keep-modified.bin
mkdir sub
velkpatch create original.bin modified.bin -o original.bin --payload-only; echo "exit=$?"
velkpatch create original.bin modified.bin -o ./sub/../modified.bin --payload-only; echo "exit=$?"
printf 'not a patcher' > stub.bin
velkpatch create original.bin modified.bin -o stub.bin --stub stub.bin; echo "exit=$?"
printf 'notes' > notes.txt
velkpatch create original.bin modified.bin -o ./notes.txt --payload-only --description notes.txt; echo "exit=$?"
cat notes.txt; echo
cmp original.bin keep.bin && cmp modified.bin keep-modified.bin && echo "inputs unchanged"
ls
