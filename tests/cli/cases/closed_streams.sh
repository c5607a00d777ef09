# Closed standard streams and a reader that went away change nothing about the work: a file
# opened while descriptor 0, 1 or 2 is closed never receives the messages, and a command that
# did its work keeps its exit code. info, whose work is its text, fails when it cannot write it.
native_only
pattern original.bin 3000 21
cp original.bin modified.bin
poke modified.bin 100 'XYZ'
velkpatch create original.bin modified.bin -o patch.bin --payload-only > /dev/null
cp original.bin target.bin
velkpatch apply patch.bin target.bin <&- >&-; echo "exit=$?"
cmp target.bin modified.bin && echo "patched, and nothing else written into it"
pattern other.bin 3000 22
cp other.bin target.bin
velkpatch apply patch.bin target.bin >&- 2>&-; echo "exit=$?"
cmp target.bin other.bin && echo "declined target untouched"
velkpatch create original.bin modified.bin -o again.bin --payload-only <&- >&- 2>&-; echo "exit=$?"
cmp again.bin patch.bin && echo "same patch"
# A pipe whose reader has gone: writing to it fails (EPIPE) rather than ending the program.
mkfifo gone
exec 5<>gone 6>gone 5<&-
cp original.bin target.bin
velkpatch apply patch.bin target.bin >&6; echo "exit=$?"
cmp target.bin modified.bin && echo "patched"
velkpatch create original.bin modified.bin -o third.bin --payload-only >&6; echo "exit=$?"
velkpatch info patch.bin >&6; echo "exit=$?"
velkpatch --version >&6; echo "exit=$?"
exec 6>&-
ls
