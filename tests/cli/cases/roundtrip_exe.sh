# The default patcher is found beside velkpatch; the patch is that executable with the payload
# behind it, and both info and apply find the payload from its headers. Signed with
# Authenticode (a throwaway self-signed certificate made here), it still is.
pattern original.bin 100000 2
pattern modified.bin 120000 3
poke modified.bin 50000 'new text'
velkpatch create original.bin modified.bin -o patch.exe > created.txt; echo "exit=$?"
head -c 2 patch.exe; echo
velkpatch info patch.exe; echo "exit=$?"
cp original.bin target.bin
velkpatch apply patch.exe target.bin; echo "exit=$?"
cmp target.bin modified.bin && echo "target equals modified"
# An existing patch as the stub: only its executable part is taken.
velkpatch create original.bin modified.bin -o again.exe --stub patch.exe > /dev/null; echo "exit=$?"
cmp again.exe patch.exe && echo "same patch again"
# Signed once finished: the signature checks out and lies behind the payload, where info and
# apply pass over it; as the stub, the signed patch gives back the patcher as it was built.
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=velkpatch test publisher" \
  -keyout key.pem -out cert.pem 2> openssl.log || cat openssl.log
osslsigncode sign -certs cert.pem -key key.pem -n "velkpatch test" -in patch.exe -out signed.exe \
  > sign.log 2>&1 || cat sign.log
osslsigncode verify -CAfile cert.pem -in signed.exe > verify.log 2>&1; echo "verify exit=$?"
grep -x "Signature verification: ok" verify.log
velkpatch info signed.exe | tail -1
cp original.bin signed-target.bin
velkpatch apply signed.exe signed-target.bin; echo "exit=$?"
cmp signed-target.bin modified.bin && echo "target equals modified"
velkpatch create original.bin modified.bin -o unsigned.exe --stub signed.exe > /dev/null; echo "exit=$?"
cmp unsigned.exe patch.exe && echo "same patch as from the unsigned patcher"
osslsigncode verify -CAfile cert.pem -in unsigned.exe > unsigned.log 2>&1; echo "verify exit=$?"
