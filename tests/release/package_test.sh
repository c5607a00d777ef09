#!/usr/bin/env bash
# The packages scripts/release.sh made, listed and checked: each holds exactly the files a release
# should, owned by root; the version of CMakeLists.txt is in their names, in the .deb's control
# fields, in the manual page and in `velkpatch --version`; the .deb depends on what the program
# links; each patch program (x64 and x86) is the same bytes in all three, and so is the licence;
# nothing names the build's folders; the sums check out; and unpacked, each velkpatch makes,
# shows and applies a patch with each patcher it ships.
#   package_test.sh DIST_DIR
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
dist=$(cd "$1" && pwd)
version=$(sed -n 's/^project(velkpatch VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
work=$(mktemp -d "${TMPDIR:-/tmp}/velk-packages.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "package_test: $*" >&2; failures=$((failures + 1)); }
# The files of a listing, without directories, against the expected ones.
same_files() {
  local what=$1 expected=$2 actual
  actual=$(grep -v '/$' | sed 's|^\./||' | sort)
  [[ "$actual" == "$(sort <<<"$expected")" ]] || fail "$what holds"$'\n'"$actual"$'\n'"instead of"$'\n'"$expected"
}

tgz=velkpatch-$version-linux-$(uname -m).tar.gz
deb=velkpatch_${version}_$(dpkg --print-architecture).deb
zip=velkpatch-$version-win64.zip
for package in "$tgz" "$deb" "$zip"; do
  [[ -f "$dist/$package" ]] || { echo "package_test: no $package in $dist" >&2; exit 1; }
done
(cd "$dist" && sha256sum --check --strict SHA256SUMS) || fail "SHA256SUMS does not check out"
same_files SHA256SUMS "$(printf '%s\n' "$tgz" "$deb" "$zip")" < <(awk '{print $2}' "$dist/SHA256SUMS")

echo "== $tgz ($(stat -c %s "$dist/$tgz") bytes)"
tar tvzf "$dist/$tgz"
top=velkpatch-$version-linux-$(uname -m)
same_files "$tgz" "$top/bin/velkpatch
$top/share/doc/velkpatch/LICENSE
$top/share/doc/velkpatch/NOTICE.md
$top/share/doc/velkpatch/README.md
$top/share/man/man1/velkpatch.1.gz
$top/share/velkpatch/velkstub-x86.exe
$top/share/velkpatch/velkstub.exe" < <(tar tzf "$dist/$tgz")
tar tvzf "$dist/$tgz" | awk '$2 != "root/root" {exit 1}' || fail "$tgz has files not owned by root"

echo "== $deb ($(stat -c %s "$dist/$deb") bytes)"
dpkg-deb --info "$dist/$deb"
dpkg-deb --contents "$dist/$deb"
same_files "$deb" "usr/bin/velkpatch
usr/share/doc/velkpatch/LICENSE
usr/share/doc/velkpatch/NOTICE.md
usr/share/doc/velkpatch/README.md
usr/share/man/man1/velkpatch.1.gz
usr/share/velkpatch/velkstub-x86.exe
usr/share/velkpatch/velkstub.exe" < <(dpkg-deb --fsys-tarfile "$dist/$deb" | tar t)
[[ "$(dpkg-deb --field "$dist/$deb" Package Version)" == "Package: velkpatch"$'\n'"Version: $version" ]] ||
  fail "$deb control fields: $(dpkg-deb --field "$dist/$deb" Package Version)"
grep -q 'libstdc++6' <<<"$(dpkg-deb --field "$dist/$deb" Depends)" || fail "$deb does not depend on libstdc++6"

echo "== $zip ($(stat -c %s "$dist/$zip") bytes)"
unzip -lv "$dist/$zip"
same_files "$zip" "velkpatch-$version-win64/LICENSE
velkpatch-$version-win64/NOTICE.md
velkpatch-$version-win64/README.md
velkpatch-$version-win64/velkpatch.exe
velkpatch-$version-win64/velkstub-x86.exe
velkpatch-$version-win64/velkstub.exe" < <(unzip -Z1 "$dist/$zip")

mkdir "$work/tgz" "$work/deb" "$work/zip"
tar xzf "$dist/$tgz" -C "$work/tgz"
dpkg-deb --extract "$dist/$deb" "$work/deb"
unzip -q "$dist/$zip" -d "$work/zip"
linux="$work/tgz/$top"
windows="$work/zip/velkpatch-$version-win64"
for file in velkpatch/velkstub.exe velkpatch/velkstub-x86.exe doc/velkpatch/LICENSE; do
  cmp "$linux/share/$file" "$work/deb/usr/share/$file" && cmp "$linux/share/$file" "$windows/$(basename "$file")" ||
    fail "the packages carry different $(basename "$file") files"
done
cmp "$root/LICENSE" "$windows/LICENSE" || fail "the packages' LICENSE is not the project's"
grep -rlaF "$root" "$work" && fail "files above name the source or build folder $root"
[[ "$("$linux/bin/velkpatch" --version)" == "velkpatch $version" ]] || fail "velkpatch --version is not $version"
[[ "$("$root/scripts/wine-run.sh" "$windows/velkpatch.exe" --version | tr -d '\r')" == "velkpatch $version" ]] ||
  fail "velkpatch.exe --version is not $version"
manual=$(zcat "$linux/share/man/man1/velkpatch.1.gz")
grep -qF "\"velkpatch $version\"" <<<"$manual" || fail "the manual page is not of version $version"
[[ -z "$(groff -man -Tutf8 -ww -z <<<"$manual" 2>&1)" ]] || fail "groff warns about the manual page"

bash "$root/tests/cli/install_test.sh" --installed "$linux" bin velkpatch >/dev/null || fail "the .tar.gz's velkpatch"
bash "$root/tests/cli/install_test.sh" --installed "$work/deb/usr" bin velkpatch >/dev/null || fail "the .deb's velkpatch"
bash "$root/tests/cli/install_test.sh" --installed "$windows" . velkpatch.exe "$root/scripts/wine-run.sh" >/dev/null ||
  fail "the .zip's velkpatch.exe"

if [[ $failures -ne 0 ]]; then
  echo "package_test: $failures checks failed" >&2
  exit 1
fi
echo "package_test: the three packages of velkpatch $version are complete and work"
