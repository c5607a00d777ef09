# Shrinking, growing by zeros (no record needed), growing by data, and empty files.
pattern original.bin 70000 4
head -c 50000 original.bin > shorter.bin
poke shorter.bin 100 'x'
cp original.bin zero-grown.bin
head -c 80000 /dev/zero >> zero-grown.bin
cp original.bin data-grown.bin
pattern tail.bin 70000 5
cat tail.bin >> data-grown.bin
: > empty.bin
for modified in shorter.bin zero-grown.bin data-grown.bin empty.bin; do
  velkpatch create original.bin $modified -o patch.bin --payload-only; echo "exit=$?"
  cp original.bin target.bin
  velkpatch apply patch.bin target.bin > /dev/null; echo "apply exit=$?"
  cmp target.bin $modified && echo "$modified: equal"
done
velkpatch create empty.bin original.bin -o patch.bin --payload-only; echo "exit=$?"
: > target.bin
velkpatch apply patch.bin target.bin; echo "exit=$?"
cmp target.bin original.bin && echo "from empty: equal"
