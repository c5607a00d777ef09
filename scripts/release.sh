#!/usr/bin/env bash
# Builds the release packages into dist/, with their SHA-256 sums in dist/SHA256SUMS:
#   velkpatch-VERSION-linux-x86_64.tar.gz  velkpatch, the patch programs velkstub.exe (x64) and
#                                          velkstub-x86.exe, the manual page, README, LICENSE, notices
#   velkpatch_VERSION_amd64.deb            the same, installed under /usr
#   velkpatch-VERSION-win64.zip            velkpatch.exe, velkstub.exe, velkstub-x86.exe, README,
#                                          LICENSE, notices
# The version is the one in CMakeLists.txt. The release presets link the programs stripped, so
# the packages carry them exactly as built. Every date in the packages is SOURCE_DATE_EPOCH, by
# default the time of the last commit, so two runs on the same commit give the same bytes.
#
#   scripts/release.sh
#   DIST_DIR=/elsewhere scripts/release.sh
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

if [[ -z ${SOURCE_DATE_EPOCH:-} ]]; then
  SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null) ||
    { echo "release: not a git checkout; set SOURCE_DATE_EPOCH to the release's date" >&2; exit 1; }
fi
export SOURCE_DATE_EPOCH
dist=${DIST_DIR:-dist}

presets=(release)
if command -v x86_64-w64-mingw32-g++-posix >/dev/null; then
  presets+=(release-win64)
else
  echo "release: no mingw-w64: no patch programs in the Linux packages and no Windows package" >&2
fi

staging=build/release-packages
rm -rf "$staging"
mkdir -p "$staging" "$dist"
rm -f "$dist"/velkpatch-* "$dist"/velkpatch_* "$dist"/SHA256SUMS
for preset in "${presets[@]}"; do
  echo "== build: $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  echo "== package: $preset"
  # Under fakeroot the archives name root as every file's owner, whoever builds them.
  fakeroot cpack --config "build/$preset/CPackConfig.cmake" -B "$staging/$preset" >/dev/null
  mv "$staging/$preset"/velkpatch*.* "$dist"/
done

cd "$dist"
sha256sum velkpatch* > SHA256SUMS
echo "== packages in $dist (SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH)"
ls -l velkpatch* SHA256SUMS | awk '{printf "%10d  %s\n", $5, $9}'
