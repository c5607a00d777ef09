# Ctrl+C (SIGINT) or SIGTERM during an apply: the target is left as it was, one line says so,
# exit code 130. First while the CRC of a large file is checked, then at moments spread over a
# whole application (where the interrupt may come after the end, the target is patched).
native_only
truncate -s 1T huge.img
le64() { local v=$1 i; for i in 0 1 2 3 4 5 6 7; do printf "\\x$(printf %02x $(( (v >> (8 * i)) & 255 )))"; done; }
{ printf 'VELK-PATCH3.0\0\0\0'; le64 1099511627776; printf '\x01\0\0\0\x28\0\0\0'; le64 0; printf '\x01\0\0\0\0\x01\0x\xff'; } > crc.bin
# Waits until process $1 holds file $2 open (it catches interrupts by then) or has ended.
holding() {
  while kill -0 "$1" 2>/dev/null; do
    for fd in /proc/"$1"/fd/*; do [[ $(readlink "$fd") == "$PWD/$2" ]] && return; done
  done
}
velkpatch_background apply crc.bin huge.img --yes
pid=$!
holding $pid huge.img
sleep 0.2
kill -INT $pid
wait $pid; echo "exit=$?"
[[ $(stat -c %s huge.img) == 1099511627776 && ! -e huge.img.velk-undo ]] && echo "huge.img as it was"
rm huge.img

pattern original.img 33554432 7
awk 'NR % 499 == 0 { sub("sample", "SAMPLE") } { print }' original.img > modified.img
velkpatch create original.img modified.img -o patch.bin --payload-only > /dev/null
# Moments spread over one whole application as long as it takes on this machine, counted from
# when the target is open.
cp original.img target.img
start=$(date +%s%N); velkpatch apply patch.bin target.img > /dev/null; took=$(( $(date +%s%N) - start ))
for tenth in 1 2 3 4 5 6 7 8 9 11; do
  delay=$(awk -v ns="$took" -v k="$tenth" 'BEGIN { printf "%.3f", ns * k / 1e10 }')
  signal=INT; [[ $((tenth % 2)) == 0 ]] && signal=TERM
  cp original.img target.img
  velkpatch_background apply patch.bin target.img > out.txt 2> err.txt
  pid=$!
  holding $pid target.img
  sleep $delay
  kill -$signal $pid 2>/dev/null
  wait $pid
  code=$?
  if [[ $code == 130 ]]; then
    cmp -s target.img original.img || echo "SIG$signal after $delay s: exit 130 but the target changed"
    [[ $(cat err.txt) == "velkpatch: interrupted; 'target.img' was left as it was" ]] ||
      echo "SIG$signal after $delay s: $(cat err.txt)"
  elif [[ $code == 0 ]]; then
    cmp -s target.img modified.img || echo "SIG$signal after $delay s: exit 0 but not patched"
  else
    echo "SIG$signal after $delay s: exit $code: $(cat err.txt)"
  fi
  [[ -e target.img.velk-undo ]] && echo "SIG$signal after $delay s: a journal was left"
done
echo "every interrupted apply left the original or the patched file"
