# A replaced OUTPUT keeps its permissions; a patch program (a stub in front) is executable
# wherever it is readable, a bare payload is not.
native_only
umask 022
pattern original.bin 2000 27
cp original.bin modified.bin
poke modified.bin 3 'x'
printf 'old' > private.bin
chmod 600 private.bin
velkpatch create original.bin modified.bin -o private.bin --payload-only > /dev/null; echo "exit=$?"
stat -c '%a %n' private.bin
printf 'old' > shared.exe
chmod 640 shared.exe
velkpatch create original.bin modified.bin -o shared.exe > /dev/null; echo "exit=$?"
stat -c '%a %n' shared.exe
velkpatch create original.bin modified.bin -o new.exe > /dev/null; echo "exit=$?"
velkpatch create original.bin modified.bin -o new.bin --payload-only > /dev/null; echo "exit=$?"
stat -c '%a %n' new.exe new.bin
