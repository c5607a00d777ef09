# A target that fails the CRC check: with no terminal the answer is no (exit 3), --no says no,
# --yes patches anyway. A declined target is left as it was.
pattern original.bin 4000 7
cp original.bin modified.bin
poke modified.bin 1000 'changed'
velkpatch create original.bin modified.bin -o patch.bin --payload-only > /dev/null
pattern other.bin 4000 8
cp other.bin target.bin
velkpatch apply patch.bin target.bin; echo "exit=$?"
cmp target.bin other.bin && echo "target untouched"
velkpatch apply patch.bin target.bin --no; echo "exit=$?"
cmp target.bin other.bin && echo "target untouched"
velkpatch apply patch.bin target.bin --yes; echo "exit=$?"
cmp -s target.bin other.bin || echo "target patched"
# The right file passes without a question.
cp original.bin right.bin
velkpatch apply patch.bin right.bin; echo "exit=$?"
