# A Linux file name need not be UTF-8; it still opens, and messages show its bytes as they are.
native_only
pattern $'orig\xff.bin' 2000 17
cp $'orig\xff.bin' $'mod\xfe.bin'
poke $'mod\xfe.bin' 3 'x'
velkpatch create $'orig\xff.bin' $'mod\xfe.bin' -o $'patch\xfd.bin' --payload-only; echo "exit=$?"
velkpatch apply $'patch\xfd.bin' $'orig\xff.bin'; echo "exit=$?"
cmp $'orig\xff.bin' $'mod\xfe.bin' && echo "equal"
velkpatch info $'missing\xfc.bin'; echo "exit=$?"
