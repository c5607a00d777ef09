# A set's apply killed (SIGKILL) at moments spread over a whole application, and as soon as its
# second file begins to change: 'velkpatch recover FOLDER' then leaves every file original or every
# file patched, nothing of the set's beside them; where it is the original, apply goes through.
native_only
mkdir -p original/disc modified/disc
pattern original/disc/track1.bin 25165824 7
awk 'NR % 499 == 0 { sub("sample", "SAMPLE") } { print }' original/disc/track1.bin > modified/disc/track1.bin
pattern original/disc/track2.bin 8388608 8
awk 'NR % 211 == 0 { sub("line", "LINE") } { print }' original/disc/track2.bin > modified/disc/track2.bin
pattern original/disc/old.txt 1000 9
pattern modified/disc/new.txt 3000 10
printf 'FILE "track1.bin" BINARY\n' > original/disc/game.cue
printf 'FILE "track1.bin" BINARY\nFILE "track2.bin" BINARY\n' > modified/disc/game.cue
velkpatch create original modified -o set.bin --payload-only > /dev/null
same() { diff -r "$1" "$2" > /dev/null; }
cp -r original target
start=$(date +%s%N)
velkpatch apply set.bin target > /dev/null
whole=$(( $(date +%s%N) - start ))
same target modified || echo "the whole apply did not patch"
restored=0
for tenth in 1 2 3 4 5 6 7 8 9 11 c c; do
  rm -rf target && cp -r original target
  before=$(stat -c %y target/disc/track2.bin)
  velkpatch_background apply set.bin target > /dev/null 2>&1
  pid=$!
  if [[ $tenth == c ]]; then
    when="the first change of track2.bin"
    while kill -0 $pid 2>/dev/null && [[ $(stat -c %y target/disc/track2.bin) == "$before" ]]; do :; done
  else
    when=$(awk -v w="$whole" -v k="$tenth" 'BEGIN { printf "%.3f s", w * k / 10 / 1e9 }')
    sleep "${when% s}"
  fi
  kill -KILL $pid 2>/dev/null
  wait $pid 2>/dev/null
  velkpatch recover target > recover.txt || echo "after $when: recover failed: $(cat recover.txt)"
  grep -q '^Restored' recover.txt && restored=$((restored + 1))
  left=$(find target -name '*.velk-*')
  [[ -z $left ]] || echo "after $when: left beside the files: $left"
  if same target original; then
    velkpatch apply set.bin target > /dev/null 2> err.txt || echo "after $when: apply again: $(cat err.txt)"
    same target modified || echo "after $when: not patched by the second apply"
  elif ! same target modified; then
    echo "after $when: a mixed folder"
  fi
done
echo "every killed apply of the set was recovered to the original or the patched folder"
[[ $restored -gt 0 ]] && echo "(some kills came while the files were being written)"
