# The default patcher is found beside velkpatch; the patch is that executable with the payload
# behind it, and both info and apply find the payload from its headers.
pattern original.bin 100000 2
pattern modified.bin 120000 3
poke modified.bin 50000 'new text'
velkpatch create original.bin modified.bin -o patch.exe > created.txt; echo "exit=$?"
head -c 2 patch.exe; echo
velkpatch info patch.exe; echo "exit=$?"
cp original.bin target.bin
velkpatch apply patch.exe target.bin; echo "exit=$?"
cmp target.bin modified.bin && echo "target equals modified"
# An existing patch as the stub: only its executable part is taken.
velkpatch create original.bin modified.bin -o again.exe --stub patch.exe > /dev/null; echo "exit=$?"
cmp again.exe patch.exe && echo "same patch again"
