# The description is UTF-8 in the file and shown again by info; line ends of any kind become
# CR LF in the payload. Invalid, NUL-carrying and over-long descriptions are refused.
pattern original.bin 5000 6
cp original.bin modified.bin
poke modified.bin 7 'Q'
printf '\xef\xbb\xbf汉化补丁 v1.0\n第二行\r\n第三行\r最后' > notes.txt
velkpatch create original.bin modified.bin -o patch.bin --payload-only --description notes.txt; echo "exit=$?"
velkpatch info patch.bin; echo "exit=$?"
# The payload holds UTF-16LE with CR LF and a terminating NUL.
tail -c 10 patch.bin | od -An -tx1
printf 'bad \xff byte' > bad.txt
velkpatch create original.bin modified.bin -o p2.bin --payload-only --description bad.txt; echo "exit=$?"
printf 'nul\0inside' > with-nul.txt
velkpatch create original.bin modified.bin -o p2.bin --payload-only --description with-nul.txt; echo "exit=$?"
head -c 32767 /dev/zero | tr '\0' 'a' > longest.txt
velkpatch create original.bin modified.bin -o p2.bin --payload-only --description longest.txt; echo "exit=$?"
printf 'a' >> longest.txt
velkpatch create original.bin modified.bin -o p3.bin --payload-only --description longest.txt; echo "exit=$?"
head -c 16383 /dev/zero | tr '\0' '\n' > lines.txt    # 16383 CR LF = 32766 units
velkpatch create original.bin modified.bin -o p3.bin --payload-only --description lines.txt; echo "exit=$?"
printf '\n' >> lines.txt
velkpatch create original.bin modified.bin -o p4.bin --payload-only --description lines.txt; echo "exit=$?"
velkpatch create original.bin modified.bin -o p4.bin --payload-only --description missing.txt; echo "exit=$?"
ls
