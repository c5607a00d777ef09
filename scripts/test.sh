#!/usr/bin/env bash
# Builds every preset and runs every test: natively, and the Windows x64 build under Wine.
# The Windows x86 build is built only (32-bit programs cannot run on this kernel).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

for preset in native win64 win32; do
  echo "== build: $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done

echo "== test: native"
ctest --preset native
echo "== test: win64 (under Wine)"
ctest --preset win64
