# Inputs whose size does not tell what they hold: a /proc file says 0 bytes, a pipe has no size
# at all. ORIGINAL and MODIFIED are refused rather than read as empty (a patch that cuts every
# target to 0 bytes); a description is read to its end, from a pipe as from a file.
native_only
pattern original.bin 3000 24
cp original.bin modified.bin
poke modified.bin 9 'Q'
velkpatch create original.bin /proc/version -o patch.bin --payload-only; echo "exit=$?"
velkpatch create /proc/version modified.bin -o patch.bin --payload-only; echo "exit=$?"
mkfifo pipe
velkpatch create original.bin pipe -o patch.bin --payload-only; echo "exit=$?"
velkpatch create pipe modified.bin -o patch.bin --payload-only; echo "exit=$?"
velkpatch create original.bin modified.bin -o patch.bin --payload-only --description <(printf 'notes from a pipe\n') > /dev/null
velkpatch info patch.bin | head -1
# A named pipe is read once its writer comes, even when that comes later.
(sleep 0.5; timeout 10 sh -c "printf 'notes from a named pipe\n' > pipe") &
velkpatch create original.bin modified.bin -o patch.bin --payload-only --description pipe > /dev/null
wait
velkpatch info patch.bin | head -1
velkpatch create original.bin modified.bin -o patch.bin --payload-only --description /proc/version > /dev/null
velkpatch info patch.bin | head -c 6; echo
ls
