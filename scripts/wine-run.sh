#!/usr/bin/env bash
# Runs a Windows program under Wine, quietly, in the project's own Wine prefix for programs of
# its kind: ~/.wine-velkpatch for x64 programs, ~/.wine-velkpatch32 for x86 ones.
#   wine-run.sh PROGRAM.exe [ARGUMENTS...]
source "$(dirname "$0")/wine-env.sh" "${1:-}"
if [ "$WINEARCH" = win32 ]; then
  export WINEPREFIX=${WINEPREFIX:-$HOME/.wine-velkpatch32}
else
  export WINEPREFIX=${WINEPREFIX:-$HOME/.wine-velkpatch}
fi
exec "$wine" "$@"
