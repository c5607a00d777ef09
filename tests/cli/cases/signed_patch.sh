# A finished patch signed with Authenticode, with a throwaway self-signed certificate made here:
# the signature checks out, info and apply still find the payload in front of it, and the signed
# patch as --stub gives back the patcher exactly as it was built, without the old signature.
pattern original.bin 100000 2
pattern modified.bin 120000 3
poke modified.bin 50000 'new text'
velkpatch create original.bin modified.bin -o patch.exe > /dev/null; echo "exit=$?"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=velkpatch test publisher" \
  -keyout key.pem -out cert.pem 2> openssl.log || cat openssl.log
osslsigncode sign -certs cert.pem -key key.pem -n "velkpatch test" -in patch.exe -out signed.exe \
  > sign.log 2>&1 || cat sign.log
osslsigncode verify -CAfile cert.pem -in signed.exe > verify.log 2>&1; echo "verify exit=$?"
grep -x "Signature verification: ok" verify.log
velkpatch info signed.exe; echo "exit=$?"
cp original.bin target.bin
velkpatch apply signed.exe target.bin; echo "exit=$?"
cmp target.bin modified.bin && echo "target equals modified"
velkpatch create original.bin modified.bin -o again.exe --stub signed.exe > /dev/null; echo "exit=$?"
cmp again.exe patch.exe && echo "same patch as from the unsigned patcher"
osslsigncode verify -CAfile cert.pem -in again.exe > unsigned.log 2>&1; echo "verify exit=$?"
