#!/usr/bin/env bash
# Release checks of velkstub.exe, as they would run before shipping it:
#  - it imports only DLLs that every Windows has (no MinGW runtime or C++ runtime DLLs);
#  - it is a GUI program (no console window opens beside the dialog);
#  - it is not packed (packed executables trip antivirus scanners);
#  - it carries its resources: dialog 129, string table, icon group 131 and a manifest;
#  - with a size budget given, it fits it.
# Usage: check_stub.sh <objdump> <windres> <velkstub.exe> [<size budget in bytes>]
set -uo pipefail
objdump=$1
windres=$2
exe=$3
budget=${4:-}
here=$(cd "$(dirname "$0")" && pwd)
failures=0
fail() { echo "check_stub: $*" >&2; failures=$((failures + 1)); }

headers=$("$objdump" -p "$exe") || { echo "check_stub: cannot read $exe" >&2; exit 1; }

allowed='^(kernel32|user32|gdi32|comctl32|comdlg32|shlwapi|shell32|advapi32|ole32|msvcrt|ucrtbase|api-ms-win-[a-z0-9-]+)\.dll$'
imports=$(grep -E '^[[:space:]]*DLL Name:' <<<"$headers" | awk '{print tolower($3)}' | sort -u)
[ -n "$imports" ] || fail "no import table found"
for dll in $imports; do
  [[ "$dll" =~ $allowed ]] || fail "imports $dll, which is not one of Windows' own DLLs"
done

grep -qE '^Subsystem[[:space:]]+0+2[[:space:]]' <<<"$headers" || fail "not a Windows GUI program"

sections=$("$objdump" -h "$exe" | awk '$1 ~ /^[0-9]+$/ {print $2}')
for s in $sections; do
  case "$s" in
    UPX*|.upx*|.aspack|.adata|.petite|.nsp*|.MPRESS*) fail "packed: section $s" ;;
  esac
done
grep -qx '.rsrc' <<<"$sections" || fail "no resource section"

# The resources as windres reads them back from the executable: the dialog template with its
# controls, the caption string, the icon group and its four images, the manifest.
resources=$("$windres" -J coff -O rc -i "$exe" 2>/dev/null) || fail "cannot read the resources"
dialog=$(sed -n '/^129 DIALOGEX/,/^END/p' <<<"$resources")
[ "$dialog" = "$(cat "$here/expected_dialog.rc")" ] ||
  fail "dialog 129 differs from expected_dialog.rc:"$'\n'"$dialog"
grep -qF '132, L"DRAV\x8865\x4e01\x7a0b\x5e8f 3.0.2010.11250"' <<<"$resources" || fail "string 132 missing or changed"
grep -qE '^131 14 ' <<<"$resources" || fail "icon group 131 missing"
[ "$(grep -cE '^[0-9]+ 3 /\* RT_ICON' <<<"$resources")" -eq 4 ] || fail "the icon group should have 4 images"
# Chinese (PRC) for the dialog, strings and icons; US English for the manifest.
[ "$(grep -c '^LANGUAGE 4, 2' <<<"$resources")" -ge 1 ] || fail "no Chinese (PRC) resources"
grep -q '^LANGUAGE 9, 1' <<<"$resources" || fail "no US English manifest"
grep -qF 'level=""asInvoker""' <<<"$resources" || fail "manifest does not ask for asInvoker"
grep -qF 'Microsoft.Windows.Common-Controls' <<<"$resources" || fail "manifest lacks the common controls"
case "$("$objdump" -f "$exe")" in
  *pei-x86-64*) arch=amd64 ;;
  *) arch=x86 ;;
esac
grep -qF "processorArchitecture=\"\"$arch\"\"" <<<"$resources" || fail "manifest is not for $arch"

if [ -n "$budget" ]; then
  size=$(stat -c %s "$exe")
  [ "$size" -le "$budget" ] || fail "$size bytes, more than the budget of $budget"
  echo "check_stub: $(basename "$exe") is $size bytes (budget $budget)"
fi

echo "check_stub: imports $(echo $imports | tr '\n' ' ')"
exit $((failures > 0))
