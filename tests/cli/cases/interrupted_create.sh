# An interrupted create stops cleanly: no OUTPUT and no temporary file are left behind.
native_only
# Holes read fast; a terabyte keeps the program busy long enough to be interrupted.
truncate -s 1T original.img
truncate -s 1T modified.img
poke modified.img 1099511627000 'end'
velkpatch_background create original.img modified.img -o patch.bin --payload-only
pid=$!
# Interrupted once it is writing: its temporary file beside OUTPUT exists by then.
for _ in $(seq 100); do
  compgen -G 'patch.bin.velktmp-*' > /dev/null && break
  sleep 0.1
done
sleep 0.2
kill -INT $pid
wait $pid; echo "exit=$?"
ls
