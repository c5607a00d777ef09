# An apply through a symbolic link (links/game.iso -> ../data/game.iso), killed as soon as the
# target begins to change: the journal lies beside the file the link leads to, so 'recover' by
# the file's own name finds it, and 'check' through the link cannot tell. A hard link is a
# second name with nothing to resolve: only the name an apply used finds its journal.
native_only
mkdir data links
pattern original.iso 8388608 3
awk 'NR % 97 == 0 { sub("sample", "SAMPLE") } { print }' original.iso > modified.iso
velkpatch create original.iso modified.iso -o patch.bin --payload-only > /dev/null
ln -s ../data/game.iso links/game.iso
ln -s game.iso data/second-name.iso
# Killed once the file has begun to change (again, should it ever finish first).
interrupt() {
  for attempt in 1 2 3 4 5; do
    cp original.iso data/game.iso
    velkpatch_killed_when_changed data/game.iso apply patch.bin "$1"
    ls data/*.velk-undo > /dev/null 2>&1 && return
  done
  echo "no kill came before the end"
}
interrupt links/game.iso
ls data links
velkpatch check patch.bin links/game.iso 2>&1 | sed "s|$PWD/||"; echo "exit=${PIPESTATUS[0]}"
velkpatch recover data/second-name.iso; echo "exit=$?"
cmp -s data/game.iso original.iso && echo "restored through another link"
interrupt links/game.iso
velkpatch recover data/game.iso; echo "exit=$?"
cmp -s data/game.iso original.iso && echo "restored through the file's own name"
velkpatch apply patch.bin links/game.iso; echo "exit=$?"
cmp -s data/game.iso modified.iso && echo "patched through the link"

rm data/second-name.iso
ln data/game.iso data/hard-link.iso
interrupt data/hard-link.iso
velkpatch recover data/game.iso; echo "exit=$?"
velkpatch recover data/hard-link.iso; echo "exit=$?"
cmp -s data/game.iso original.iso && echo "restored through the name the apply used"
