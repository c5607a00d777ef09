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
# A patch program cut short: its headers describe a section that ends at 66048 bytes, in a file
# of 1024.
zeros cut.exe 1024
poke cut.exe 0 'MZ'
poke cut.exe 60 '\100'           # the PE header at 0x40
poke cut.exe 64 'PE'
poke cut.exe 70 '\001'           # one section
poke cut.exe 84 '\360'           # a 240-byte optional header at 0x58
poke cut.exe 88 '\013\002'       # PE32+
poke cut.exe 148 '\000\002'      # headers of 0x200 bytes
poke cut.exe 344 '\000\000\001'  # the section: 0x10000 bytes at 0x200
poke cut.exe 348 '\000\002'
velkpatch create original.bin modified.bin -o cut-stub.exe --stub cut.exe; echo "exit=$?"
rm cut.exe
ls
# A successful create replaces the old file.
velkpatch create original.bin modified.bin -o old.bin --payload-only; echo "exit=$?"
head -c 13 old.bin; echo
