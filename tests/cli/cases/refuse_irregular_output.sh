# An OUTPUT that exists and is not a regular file (a named pipe, a folder, a device) is refused
# and left as it was. A link is judged by what it names: a link to a regular file is followed,
# and that file is replaced while the link stays. (Everything here stays inside the case's
# folder: a fault in these checks must not reach a device of the system, such as /dev/null.)
native_only
pattern original.bin 3000 23
cp original.bin modified.bin
poke modified.bin 7 'M'
mkfifo fifo
mkdir folder
ln -s fifo fifo-link
for output in fifo folder fifo-link; do
  velkpatch create original.bin modified.bin -o $output --payload-only; echo "exit=$?"
done
[[ -p fifo && -d folder && -L fifo-link ]] && echo "all left as they were"
printf 'old' > real.bin
ln -s real.bin real-link
velkpatch create original.bin modified.bin -o real-link --payload-only > /dev/null; echo "exit=$?"
[[ -L real-link ]] && head -c 13 real.bin; echo
ls folder
ls
