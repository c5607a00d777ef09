# The environment every Wine run of the project shares, sourced by wine-run.sh and the
# end-to-end test; sets $wine to the 64-bit loader.
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
# Wine writes Windows file names in the Unix locale's character set: in the C locale a name
# outside ASCII cannot be created at all. Without a UTF-8 locale, Wine gets one.
case "${LC_ALL:-${LC_CTYPE:-${LANG:-}}}" in
  *UTF-8* | *utf-8* | *UTF8* | *utf8*) ;;
  *) export LC_ALL=C.UTF-8 ;;
esac
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=$(command -v wine64 || command -v wine)
