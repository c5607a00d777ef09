# Four applies of two different patches of one original, started together on one target, again
# and again. One of them holds the target from before it reads it until it is done; the others
# are refused before they read or write anything ("目标文件打开失败", exit 1), or come after and
# find a file that is not their original (declined without a terminal, exit 3) or already
# patched (exit 0, "目标文件已经打过此补丁"). The target always ends as the result of the one
# apply that said "补丁成功", with no journal left beside it.
native_only
pattern original.img 4194304 5
awk 'NR % 97 == 0 { sub("sample", "SAMPLE") } { print }' original.img > a.img
awk 'NR % 89 == 0 { sub("line", "LINE") } { print }' original.img > b.img
velkpatch create original.img a.img -o a.bin --payload-only > /dev/null
velkpatch create original.img b.img -o b.bin --payload-only > /dev/null
# They wait for a line from one pipe and start the same instant the lines come.
mkfifo go
exec 3<> go
together() { (read -r -u 3 line; exec 3<&-; velkpatch "$@") & }
for run in $(seq 1 30); do
  cp original.img target.img
  pids=()
  for i in 1 2 3 4; do
    patch=$([[ $i == [13] ]] && echo a || echo b)
    echo $patch > $i.patch
    together apply $patch.bin target.img > $i.out 2> $i.err
    pids+=($!)
  done
  printf 'go\ngo\ngo\ngo\n' >&3
  winners=()
  for i in 1 2 3 4; do
    wait ${pids[$((i - 1))]}
    code=$?
    if [[ $code == 0 && $(cat $i.out) == 补丁成功 ]]; then winners+=($(cat $i.patch))
    elif [[ $code == 0 ]]; then grep -qx 目标文件已经打过此补丁 $i.out || echo "run $run: apply $i said $(cat $i.out)"
    elif [[ $code == 1 ]]; then grep -qx 目标文件打开失败 $i.err || echo "run $run: apply $i failed with $(cat $i.err)"
    elif [[ $code != 3 ]]; then echo "run $run: apply $i exited $code"; fi
  done
  if [[ ${#winners[@]} != 1 ]]; then echo "run $run: ${#winners[@]} applies patched"
  elif ! cmp -s target.img ${winners[0]}.img; then echo "run $run: '${winners[0]}' patched, the target is not its result"; fi
  [[ -e target.img.velk-undo ]] && echo "run $run: a journal was left"
done
exec 3<&-
echo "every run ended as the result of the apply that succeeded"
