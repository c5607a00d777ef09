# The environment every Wine run of the project shares, sourced by wine-run.sh, wine-server.sh
# and the end-to-end test with the Windows program they are about to run:
#   source wine-env.sh PROGRAM.exe
# A Wine prefix is 32- or 64-bit for life, and the x86 programs run on a 32-bit one, as on
# 32-bit Windows. WINEARCH (win32 or win64) is the program's own unless the caller set it, and
# $wine and $wineserver are the loader and server of that kind; Wine refuses a prefix made for
# the other kind, so the two never mix. Unless the caller chose one, the prefix is the project's
# own for programs of that kind: ~/.wine-velkpatch for x64 programs, ~/.wine-velkpatch32 for x86.
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
# Wine writes Windows file names in the Unix locale's character set: in the C locale a name
# outside ASCII cannot be created at all. Without a UTF-8 locale, Wine gets one.
case "${LC_ALL:-${LC_CTYPE:-${LANG:-}}}" in
  *UTF-8* | *utf-8* | *UTF8* | *utf8*) ;;
  *) export LC_ALL=C.UTF-8 ;;
esac

if [ -z "${WINEARCH:-}" ]; then
  case "$("$(dirname "${BASH_SOURCE[0]}")/pe-machine.sh" "${1:-}")" in
    x86) WINEARCH=win32 ;;
    *) WINEARCH=win64 ;;
  esac
fi
export WINEARCH
if [ "$WINEARCH" = win32 ]; then
  wine=/usr/lib/wine/wine
  wineserver=/usr/lib/wine/wineserver32
  [ -x "$wine" ] || wine=$(command -v wine)
  [ -x "$wineserver" ] || wineserver=$(command -v wineserver32 || command -v wineserver)
  export WINEPREFIX=${WINEPREFIX:-$HOME/.wine-velkpatch32}
else
  wine=/usr/lib/wine/wine64
  wineserver=/usr/lib/wine/wineserver64
  [ -x "$wine" ] || wine=$(command -v wine64 || command -v wine)
  [ -x "$wineserver" ] || wineserver=$(command -v wineserver64 || command -v wineserver)
  export WINEPREFIX=${WINEPREFIX:-$HOME/.wine-velkpatch}
fi
