# An interrupted create stops cleanly: no OUTPUT and no temporary file are left behind.
native_only
# Holes read fast; a terabyte keeps the program busy long enough to be interrupted.
truncate -s 1T original.img
truncate -s 1T modified.img
poke modified.img 1099511627000 'end'
velkpatch_background create original.img modified.img -o patch.bin --payload-only
pid=$!
sleep 1
kill -INT $pid
wait $pid; echo "exit=$?"
ls
