# A file without a usable payload: 初始化失败 and exit 1, as the patcher itself would say.
pattern random.bin 500 14
velkpatch info random.bin; echo "exit=$?"
velkpatch info missing.bin; echo "exit=$?"
printf 'VELK-PATCH2.0\0\0\0' > old.bin
head -c 40 /dev/zero >> old.bin
velkpatch info old.bin; echo "exit=$?"
