# An apply killed (SIGKILL) at moments spread over a whole application: 'velkpatch recover' then
# gives the original, or the patched file when the kill came after the end; and where it is the
# original, the same apply run again completes without the CRC question (which, without a
# terminal, would be answered no: exit code 3).
native_only
pattern original.img 33554432 7
awk 'NR % 499 == 0 { sub("sample", "SAMPLE") } { print }' original.img > modified.img
velkpatch create original.img modified.img -o patch.bin --payload-only > /dev/null
# Moments spread over one whole application as long as it takes on this machine.
cp original.img target.img
start=$(date +%s%N); velkpatch apply patch.bin target.img > /dev/null; took=$(( $(date +%s%N) - start ))
restored=0
# Then, until a kill has come while the target was being written, more at random moments.
for tenth in 1 2 3 4 5 6 7 8 9 11 r r r r r r r r r r; do
  [[ $tenth == r && $restored -gt 0 ]] && break
  [[ $tenth == r ]] && tenth=$((3 + RANDOM % 7))
  delay=$(awk -v ns="$took" -v k="$tenth" 'BEGIN { printf "%.3f", ns * k / 1e10 }')
  cp original.img target.img
  velkpatch_background apply patch.bin target.img > /dev/null 2>&1
  pid=$!
  sleep $delay
  kill -KILL $pid 2>/dev/null
  wait $pid 2>/dev/null
  velkpatch recover target.img > recover.txt || echo "after $delay s: recover failed"
  grep -q '^Restored' recover.txt && restored=$((restored + 1))
  [[ -e target.img.velk-undo ]] && echo "after $delay s: a journal was left"
  if cmp -s target.img original.img; then
    velkpatch apply patch.bin target.img > /dev/null 2> err.txt || echo "after $delay s: apply again: $(cat err.txt)"
    cmp -s target.img modified.img || echo "after $delay s: not patched by the second apply"
  elif ! cmp -s target.img modified.img; then
    echo "after $delay s: a mixed target"
  fi
done
echo "every killed apply was recovered to the original or the patched file"
[[ $restored -gt 0 ]] && echo "(some kills came while the target was being written)"
