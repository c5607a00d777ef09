# An apply killed (SIGKILL) at moments spread over a whole application: 'velkpatch recover' then
# gives the original, or the patched file when the kill came after the end; and where it is the
# original, the same apply run again completes without the CRC question (which, without a
# terminal, would be answered no: exit code 3).
native_only
pattern original.img 33554432 7
awk 'NR % 499 == 0 { sub("sample", "SAMPLE") } { print }' original.img > modified.img
velkpatch create original.img modified.img -o patch.bin --payload-only > /dev/null
# When, in one whole apply timed from its start, the journal is there: from just before the
# target is first written until just after it is done (as long as it takes on this machine, under
# a sanitizer too, whose start and exit take long). The kills then fall before, inside and after.
cp original.img target.img
start=$(date +%s%N)
velkpatch_background apply patch.bin target.img > /dev/null
pid=$!
appeared=0 gone=0
while kill -0 $pid 2>/dev/null; do
  if [[ -e target.img.velk-undo ]]; then
    [[ $appeared == 0 ]] && appeared=$(( $(date +%s%N) - start ))
  elif [[ $appeared != 0 && $gone == 0 ]]; then
    gone=$(( $(date +%s%N) - start ))
  fi
done
wait $pid
[[ $gone == 0 ]] && gone=$(( $(date +%s%N) - start ))
restored=0
# Then ("c") killed as soon as the target has begun to change, which it does only once its journal
# is complete: a kill while the target is being written, however fast this machine is.
for tenth in -3 0 1 2 3 4 5 6 7 8 9 10 13 c c c; do
  delay=$(awk -v a="$appeared" -v g="$gone" -v k="$tenth" 'BEGIN { d = a + (g - a) * k / 10; printf "%.3f", (d < 0 ? 0 : d) / 1e9 }')
  cp original.img target.img
  before=$(stat -c %y target.img)
  velkpatch_background apply patch.bin target.img > /dev/null 2>&1
  pid=$!
  if [[ $tenth == c ]]; then
    delay="the first change"
    while kill -0 $pid 2>/dev/null && [[ $(stat -c %y target.img) == "$before" ]]; do :; done
  else
    sleep $delay
  fi
  kill -KILL $pid 2>/dev/null
  wait $pid 2>/dev/null
  # Beside a pending journal the target may be half patched: check cannot tell.
  if [[ -e target.img.velk-undo ]]; then
    velkpatch check patch.bin target.img > /dev/null 2>&1
    code=$?
    [[ $code == 1 ]] || echo "after $delay s: check beside a pending journal: exit $code"
  fi
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
