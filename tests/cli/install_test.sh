#!/usr/bin/env bash
# `cmake --install` into a fresh prefix, then the installed velkpatch creates a patch without
# --stub, and one with --x86: it must find the installed patcher of each architecture on its
# own. With --installed, the same for a tree laid out already (an unpacked package), with the
# program in BINDIR of it.
#   install_test.sh BUILD_DIR PROGRAM_NAME [EMULATOR...]
#   install_test.sh --installed PREFIX BINDIR PROGRAM_NAME [EMULATOR...]
set -eu
pe_machine=$(cd "$(dirname "$0")/../../scripts" && pwd)/pe-machine.sh
if [[ $1 == --installed ]]; then
  prefix=$(cd "$2" && pwd)
  program="$prefix/$3/$4"
  shift 4
else
  build=$1
  program=$2
  shift 2
  prefix=$(mktemp -d "${TMPDIR:-/tmp}/velk-install.XXXXXX")
  trap 'rm -rf "$prefix"' EXIT
  cmake --install "$build" --prefix "$prefix" >/dev/null
  program="$prefix/bin/$program"
fi
emulator=("$@")
[[ -f "$program" ]] || { echo "not installed: $program"; exit 1; }
# Natively the manual page comes along.
if [[ $# -eq 0 ]] && ! gzip -t "$prefix/share/man/man1/velkpatch.1.gz"; then
  echo "no manual page at share/man/man1/velkpatch.1.gz"
  exit 1
fi
if [[ ! -f "$(dirname "$program")/velkstub.exe" && ! -f "$prefix/share/velkpatch/velkstub.exe" ]]; then
  echo "no patcher was built: nothing to find"
  exit 77
fi

cd "$prefix"
yes "installed velkpatch" | head -c 20000 > original.bin
cp original.bin modified.bin
printf 'changed' | dd of=modified.bin bs=1 seek=999 conv=notrunc status=none
# Each patch starts with the patcher of the architecture asked for, and applies.
roundtrip() {
  local architecture=$1
  shift
  cp original.bin target.bin
  "${emulator[@]}" "$program" create original.bin modified.bin -o patch.exe "$@"
  [[ "$("$pe_machine" patch.exe)" == "$architecture" ]] ||
    { echo "the patch does not start with the $architecture patcher"; exit 1; }
  "${emulator[@]}" "$program" info patch.exe
  "${emulator[@]}" "$program" apply patch.exe target.bin
  cmp target.bin modified.bin
  echo "installed velkpatch found its $architecture patcher"
}
roundtrip x64
roundtrip x86 --x86
