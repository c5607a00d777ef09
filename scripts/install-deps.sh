#!/usr/bin/env bash
# Installs every Debian package that building, testing and packaging velkpatch need.
# Idempotent: when everything is present it prints nothing and exits 0.
set -euo pipefail

packages=(
  cmake ninja-build g++ make pkg-config
  googletest libgtest-dev zlib1g-dev
  clang libclang-rt-14-dev llvm
  g++-mingw-w64-x86-64 g++-mingw-w64-i686
  binutils-mingw-w64-x86-64 binutils-mingw-w64-i686
  wine64 fonts-wine xvfb xauth fonts-wqy-microhei imagemagick
  wine32:i386  # the x86 programs run under 32-bit Wine, from Debian's i386 architecture
  python3 groff-base gzip fakeroot dpkg-dev unzip openssl osslsigncode
  hyperfine xorriso  # timings of whole processes; the real-data pair of the benchmarks (bench/iso_pair.sh)
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

sudo=""
[[ $(id -u) -eq 0 ]] || sudo="sudo"
echo "Installing: ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
# apt finds i386 packages only once dpkg takes that architecture; the update below lists them.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
