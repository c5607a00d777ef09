#!/usr/bin/env bash
# A real-data pair for the benchmarks: two ISO-9660 images made with xorriso from the same folder
# of Windows programs and libraries (Wine's x86 DLLs and programs from Debian's wine32 package,
# the first in name order up to 304 MB), the second after bench/translate.py has replaced texts
# in some of the files as a translation does (same sizes, so the image keeps its layout). File
# and volume dates are fixed, so the same package version gives the same two images; the script
# prints the version and the images' SHA-256 so that a run elsewhere can tell.
#   bench/iso_pair.sh FOLDER          writes FOLDER/original.iso and FOLDER/modified.iso
set -euo pipefail
out=${1:?usage: bench/iso_pair.sh FOLDER}
here=$(cd "$(dirname "$0")" && pwd)
source_dir=/usr/lib/i386-linux-gnu/wine/i386-windows
limit=$((304 * 1000 * 1000))
command -v xorriso > /dev/null || { echo "xorriso is missing (scripts/install-deps.sh installs it)" >&2; exit 1; }
[[ -d $source_dir ]] || { echo "$source_dir is missing (wine32, scripts/install-deps.sh)" >&2; exit 1; }

mkdir -p "$out"
tree="$out/tree"
rm -rf "$tree"
mkdir -p "$tree/original/bin" "$tree/modified"
(cd "$source_dir" && find . -maxdepth 1 -type f -printf '%f %s\n' | LC_ALL=C sort |
  awk -v limit=$limit '{ total += $2; if (total > limit) exit; print $1 }') |
  while read -r name; do cp "$source_dir/$name" "$tree/original/bin/$name"; done
cp -r "$tree/original/bin" "$tree/modified/bin"
python3 "$here/translate.py" "$tree/modified" 21

export SOURCE_DATE_EPOCH=1700000000
for side in original modified; do
  find "$tree/$side" -exec touch -h -d @$SOURCE_DATE_EPOCH {} +
  xorriso -as mkisofs -quiet -o "$out/$side.iso" -V VELK_SAMPLE -J -R "$tree/$side" 2> /dev/null
done
rm -rf "$tree"
echo "wine32 $(dpkg-query -W -f='${Version}' wine32:i386 2>/dev/null || echo '?')"
(cd "$out" && ls -l original.iso modified.iso && sha256sum original.iso modified.iso)
