# Run as root, create gives a replaced OUTPUT its old owner and group back.
native_only
root_only
pattern original.bin 2000 28
cp original.bin modified.bin
poke modified.bin 3 'x'
printf 'old' > owned.bin
chown 65534:65534 owned.bin
chmod 664 owned.bin
velkpatch create original.bin modified.bin -o owned.bin --payload-only > /dev/null; echo "exit=$?"
stat -c '%u:%g %a %n' owned.bin
