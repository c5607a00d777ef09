#!/usr/bin/env bash
# Builds every preset and runs every test: natively, and the Windows x64 build under Wine.
# Of the Windows x86 build only the programs are built, and the patch program's release checks
# run on it (32-bit programs cannot run on this kernel, nor its tests). The asan
# preset runs the native tests, fuzz corpus replays included, under ASan and UBSan; the fuzz
# preset is built so that the libFuzzer programs keep linking (they run by hand, docs/fuzzing.md).
# The release packages are made, checked, and built once more from a copy of the sources in
# another folder, which must give the same bytes, and the same velkstub.exe the tests ran.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

for preset in native win64 asan fuzz; do
  echo "== build: $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done
echo "== build: win32, the programs"
cmake --preset win32 >/dev/null
cmake --build --preset win32 --target velkstub velkpatch
ctest --test-dir build/win32 -R '^velk_stub_release_checks$' --no-tests=error --output-on-failure

echo "== release: packages, checked and built a second time elsewhere"
scripts/release.sh
bash tests/release/package_test.sh dist
bash tests/release/reproducible_test.sh dist build/win64/bin/velkstub.exe build/native/bin/velkstub.exe

echo "== test: native"
ctest --preset native
echo "== test: win64 (under Wine)"
ctest --preset win64
echo "== test: native under AddressSanitizer and UndefinedBehaviorSanitizer"
ctest --preset asan
