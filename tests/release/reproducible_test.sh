#!/usr/bin/env bash
# Builds the release a second time, from a copy of the sources in another folder and so at a
# later time, and compares it with the first byte for byte: the packages, and when they differ
# the files in them. Every patch program given after the packages' folder (builds of the same
# sources elsewhere, such as those the end-to-end tests ran), velkstub.exe or velkstub-x86.exe,
# must be the released one of that name too.
#   reproducible_test.sh DIST_DIR [VELKSTUB.EXE | VELKSTUB-X86.EXE...]
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
dist=$(cd "$1" && pwd)
shift
work=$(mktemp -d "${TMPDIR:-/tmp}/velk-rebuild.XXXXXX")
trap 'rm -rf "$work"' EXIT
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct)}

# The sources as they are, committed or not, without what git ignores (the builds among them).
mkdir "$work/copy"
(cd "$root" && git ls-files -z --cached --others --exclude-standard |
  while IFS= read -r -d '' file; do [[ -e $file ]] && printf '%s\0' "$file"; done |
  tar --null --files-from=- -cf -) | tar -xf - -C "$work/copy"
echo "reproducible_test: building the release again in $work/copy"
if ! DIST_DIR="$work/dist" bash "$work/copy/scripts/release.sh" > "$work/release.log" 2>&1; then
  cat "$work/release.log"
  exit 1
fi

failures=0
if ! diff -u --label "$dist/SHA256SUMS" --label "rebuilt" "$dist/SHA256SUMS" "$work/dist/SHA256SUMS"; then
  failures=1
  echo "reproducible_test: the files that differ inside:"
  for side in first:"$dist" again:"$work/dist"; do
    into="$work/${side%%:*}" from="${side#*:}"
    mkdir -p "$into/deb"
    tar xzf "$from"/*.tar.gz -C "$into" && dpkg-deb --extract "$from"/*.deb "$into/deb" &&
      unzip -qo "$from"/*.zip -d "$into"
  done
  diff -rq "$work/first" "$work/again"
fi
zip=$(ls "$dist"/velkpatch-*-win64.zip)
unzip -q -o "$zip" '*/velkstub*.exe' -d "$work/released"
for stub in "$@"; do
  released=$(ls "$work"/released/*/"$(basename "$stub")")
  cmp "$released" "$stub" || { echo "reproducible_test: $stub is not the released $(basename "$stub")"; failures=1; }
done

if [[ $failures -ne 0 ]]; then
  echo "reproducible_test: the second build differs"
  exit 1
fi
echo "reproducible_test: built twice, byte-identical, with the patch programs"
(cd "$work"/released/*/ && sha256sum velkstub*.exe) | sed 's/^/  /'
sed 's/^/  /' "$dist/SHA256SUMS"
