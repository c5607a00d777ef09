# File names with spaces, non-ASCII letters and (natively) bytes that are not UTF-8.
pattern "原 始.bin" 3000 16
cp "原 始.bin" "修 改.bin"
poke "修 改.bin" 9 'ok'
velkpatch create "原 始.bin" "修 改.bin" -o "补 丁.bin" --payload-only; echo "exit=$?"
cp "原 始.bin" "目 标.bin"
velkpatch apply "补 丁.bin" "目 标.bin"; echo "exit=$?"
cmp "目 标.bin" "修 改.bin" && echo "equal"
