#!/usr/bin/env bash
# Builds every preset and runs every test: natively, the Windows x64 build under Wine and the
# Windows x86 build under 32-bit Wine. The asan preset runs the native tests, fuzz corpus
# replays included, under ASan and UBSan; the fuzz preset is built so that the libFuzzer
# programs keep linking (they run by hand, docs/fuzzing.md). The release packages are made,
# checked, and built once more from a copy of the sources in another folder, which must give the
# same bytes, and the same patch programs, x64 and x86, that the tests ran.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

for preset in native win64 win32 asan fuzz; do
  echo "== build: $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done

# Every Windows run below, the packages' checks included, goes to a wineserver held for the whole
# run, one per prefix: between two programs, Debian's would end and the next could lose its start.
windows_programs=(build/win64/bin/velkpatch.exe build/win32/bin/velkpatch.exe)
end_wine_servers() { for program in "${windows_programs[@]}"; do scripts/wine-server.sh end "$program"; done; }
trap end_wine_servers EXIT
for program in "${windows_programs[@]}"; do scripts/wine-server.sh hold "$program"; done

echo "== release: packages, checked and built a second time elsewhere"
scripts/release.sh
bash tests/release/package_test.sh dist
bash tests/release/reproducible_test.sh dist build/win64/bin/velkstub.exe build/native/bin/velkstub.exe \
  build/win32/bin/velkstub-x86.exe build/native/bin/velkstub-x86.exe

echo "== test: native"
ctest --preset native
echo "== test: win64 (under Wine)"
ctest --preset win64
echo "== test: win32 (under 32-bit Wine)"
ctest --preset win32
echo "== test: native under AddressSanitizer and UndefinedBehaviorSanitizer"
ctest --preset asan
