# A set made from two folders: what info lists, check in each state, apply through the folder or
# the file to pick, and what a set refuses: a file that fails its check, a missing one, a folder
# that is not the set's. Unchanged files are not in the set; the folder ends equal to the
# modified one, with nothing of the set's left in it.
mkdir -p original/data original/movies modified/data modified/movies
pattern original/game.bin 300000 1
cp original/game.bin modified/game.bin
poke modified/game.bin 1000 'PATCHED'
pattern original/movies/intro.pss 50000 2
cp original/movies/intro.pss modified/movies/intro.pss
pattern original/data/strings.dat 4000 3
pattern modified/data/strings.dat 4100 4
pattern original/data/old.idx 900 5
mkdir -p 'modified/字幕'
pattern 'modified/字幕/中文.txt' 700 6
printf 'A set\n' > notes.txt
velkpatch create original modified -o set.bin --payload-only --description notes.txt; echo "exit=$?"
velkpatch create original modified -o set-data.bin --payload-only --anchor data/strings.dat; echo "exit=$?"
velkpatch create original modified -o nope.bin --anchor data/old.idx; echo "exit=$?"
velkpatch create original original -o nope.bin; echo "exit=$?"
velkpatch info set.bin; echo "exit=$?"
velkpatch info set-data.bin | grep 'file to pick'

cp -r original target
velkpatch check set.bin target; echo "exit=$?"
velkpatch apply set.bin target/game.bin; echo "exit=$?"
diff -r target modified && echo "target equals modified"
velkpatch check set.bin target; echo "exit=$?"
velkpatch apply set.bin target; echo "exit=$?"
velkpatch recover target; echo "exit=$?"

# Through the folder, with a file that fails its check: refused (no terminal answers no).
rm -rf target && cp -r original target
poke target/data/strings.dat 10 'x'
cp -r target before
velkpatch check set.bin target; echo "exit=$?"
velkpatch apply set.bin target; echo "exit=$?"
diff -r target before && echo "nothing changed"
velkpatch apply set.bin target --yes; echo "exit=$?"
cmp target/game.bin modified/game.bin && echo "applied when told to go on"

rm -rf target before && cp -r original target
rm target/data/strings.dat
velkpatch apply set.bin target; echo "exit=$?"
velkpatch check set.bin target; echo "exit=$?"
cmp target/game.bin original/game.bin && echo "game.bin untouched"
velkpatch apply set.bin original/movies; echo "exit=$?"
velkpatch apply set.bin target/movies/intro.pss; echo "exit=$?"
ls -A target target/data
# A set keeps no undo journal for a later undo.
velkpatch create original modified -o nope.bin --keep-undo; echo "exit=$?"
velkpatch apply set.bin target --keep-undo; echo "exit=$?"
velkpatch undo set.bin target; echo "exit=$?"

# A file whose CRC-32 is 0 is known, and can go like any other.
mkdir -p zero/original zero/modified
printf 'gone \210\350\001\202' > zero/original/gone.bin
pattern zero/original/keep.bin 100 7
cp zero/original/keep.bin zero/modified/keep.bin
poke zero/modified/keep.bin 10 'x'
velkpatch create zero/original zero/modified -o zero.bin --payload-only; echo "exit=$?"
velkpatch info zero.bin | grep '^delete'
