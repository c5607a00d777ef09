# Text that comes from a patch reaches a terminal with its control characters escaped, so that
# a patch can neither retitle the terminal, clear it, hide text nor fake a "补丁成功" line; line
# ends and tabs stay. A file or pipe receives the exact text.
native_only
pattern original.bin 2000 25
cp original.bin modified.bin
poke modified.bin 3 'x'
printf 'Title\033]0;owned\007 clear\033[2J\tC1 CSI \302\233x\nFake 补丁成功\n' > notes.txt
velkpatch create original.bin modified.bin -o patch.bin --payload-only --description notes.txt > /dev/null
# A hand-made payload may carry a bare CR (create turns it into a line end) ...
size=$(stat -c %s patch.bin)
poke patch.bin $((size - 2 - 2 * 12)) '\r'
# ... and bytes after "VELK-PATCH3.0" in its version text.
poke patch.bin 13 '\033c'
velkpatch_on_terminal info patch.bin; echo "exit=$?"
velkpatch info patch.bin > exact.txt; echo "exit=$?"
grep -c $'\033' exact.txt
grep -c $'\r' exact.txt
# File names in messages are escaped on a terminal as well.
velkpatch_on_terminal create $'evil\033[2J.bin' modified.bin -o out.bin; echo "exit=$?"
