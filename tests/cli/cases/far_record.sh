# A record far beyond the largest file any file system allows fails after the resize and the
# records before it were written; the target ends byte for byte as it was, without a journal.
pattern target.bin 3000 5
cp target.bin original.bin
le64() { local v=$1 i; for i in 0 1 2 3 4 5 6 7; do printf "\\x$(printf %02x $(( (v >> (8 * i)) & 255 )))"; done; }
{
  printf 'VELK-PATCH3.0\0\0\0'; le64 5000; printf '\0\0\0\0\x28\0\0\0'; le64 0
  printf '\x01\x0a\0\0\0\x03\0abc'                                  # 3 bytes at 10
  printf '\x02'; le64 9223372036854775806; printf '\x03\0xyz'       # at 2^63 - 2
  printf '\xff'
} > far.bin
velkpatch apply far.bin target.bin 2> stderr.txt; echo "exit=$?"
head -1 stderr.txt
wc -l < stderr.txt
cmp target.bin original.bin && echo "target as it was"
# Records past 4 GiB, by an absolute position and by a delta across the 4 GiB line, grow a small
# target to past 4 GiB (a 32-bit build needs 64-bit positions all the way to the file).
{
  printf 'VELK-PATCH3.0\0\0\0'; le64 4294967306; printf '\0\0\0\0\x28\0\0\0'; le64 0
  printf '\x02'; le64 4294967295; printf '\x02\0@@'                 # at 2^32 - 1, across the line
  printf '\x01\x07\0\0\0\x04\0tail'                                  # +7: the last 4 bytes
  printf '\xff'
} > past4g.bin
velkpatch info past4g.bin | tail -1
cp original.bin grown.bin
velkpatch apply past4g.bin grown.bin; echo "exit=$?"
stat -c %s grown.bin
od -An -c -j4294967294 -N4 grown.bin
od -An -c -j4294967302 grown.bin
cmp -n 3000 grown.bin original.bin && echo "the first 3000 bytes as they were"
rm grown.bin
ls
