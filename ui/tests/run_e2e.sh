#!/usr/bin/env bash
# End-to-end test of the patch program under Wine, in a virtual X display (xvfb-run).
# Usage: run_e2e.sh <velk_e2e_driver.exe> <velkstub.exe> <output folder>
#
# It uses a Wine prefix of its own inside the output folder, made on first use, so that its
# settings (a virtual desktop, a CJK font for the dialog fonts) touch nobody else and so that
# ending its wineserver ends only this test's Windows processes. Screenshots of the ready
# dialog and of the summary box are left in <output folder>/screenshots as PNG files. Patches
# the driver asks to have signed are signed with a certificate made for the run (osslsigncode).
set -euo pipefail

driver=$(realpath "$1")
stub=$(realpath "$2")
out=$(mkdir -p "$3" && realpath "$3")
here=$(cd "$(dirname "$0")" && pwd)

# The prefix is of the stub's kind, 32- or 64-bit; each build has its own output folder.
export WINEPREFIX="$out/wineprefix"
unset DISPLAY
source "$here/../../scripts/wine-env.sh" "$stub"
export VELK_WINE="$wine" VELK_WINESERVER="$wineserver"

for tool in xvfb-run timeout openssl osslsigncode; do
  command -v "$tool" >/dev/null || { echo "run_e2e: $tool is missing" >&2; exit 1; }
done

rm -rf "$out/work" "$out/screenshots" "$out/signing"
mkdir -p "$out/work" "$out/screenshots" "$out/signing"
export VELK_SIGNING="$out/signing"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=velkpatch e2e publisher" \
  -keyout "$VELK_SIGNING/key.pem" -out "$VELK_SIGNING/cert.pem" 2>"$VELK_SIGNING/openssl.log" ||
  { cat "$VELK_SIGNING/openssl.log" >&2; exit 1; }

# Everything Wine runs stays inside the virtual display's lifetime: the inner script ends the
# prefix's wineserver before xvfb-run takes the display down.
inner=$(cat <<'INNER'
set -u
cleanup() { "$VELK_WINESERVER" -k >/dev/null 2>&1 || true; }
trap cleanup EXIT
# The mark names the prefix's kind: a prefix of the other kind (left by a run of a program that
# was not there to say its kind) is made again.
if [ ! -f "$WINEPREFIX/.velk-ready-$WINEARCH" ]; then
  start=$(date +%s)
  rm -rf "$WINEPREFIX"
  timeout 240 "$VELK_WINE" wineboot -i >/dev/null 2>&1 || { echo "run_e2e: wineboot failed" >&2; exit 1; }
  timeout 60 "$VELK_WINE" regedit /S "$(winepath -w "$VELK_REG" 2>/dev/null || echo "$VELK_REG")" >/dev/null 2>&1 ||
    { echo "run_e2e: registry import failed" >&2; exit 1; }
  # The window frames draw their buttons with Marlett; this Wine build does not find the copy
  # that fonts-wine installs by itself.
  for font in /usr/share/wine/fonts/marlett.ttf; do
    [ -f "$font" ] && cp "$font" "$WINEPREFIX/drive_c/windows/Fonts/"
  done
  timeout 60 "$VELK_WINESERVER" -w || "$VELK_WINESERVER" -k
  touch "$WINEPREFIX/.velk-ready-$WINEARCH"
  echo "run_e2e: Wine prefix made in $(( $(date +%s) - start )) s"
fi
# The driver asks for screenshots by leaving "<name>.request" files (width height x y) in the
# screenshot folder; the X server's root window holds what Wine drew.
take_screenshots() {
  local parent=$1
  while kill -0 "$parent" 2>/dev/null; do
    for request in "$VELK_SHOTS"/*.request; do
      [ -f "$request" ] || continue
      read -r w h x y < "$request" || true
      if command -v import >/dev/null; then
        timeout 20 import -window root -crop "${w}x${h}+${x}+${y}" +repage "${request%.request}.png" || true
      fi
      rm -f "$request"
    done
    sleep 0.1
  done
}
take_screenshots $$ &
watcher=$!
# The driver asks for a patch to be signed by leaving "<patch>.sign-request" beside it; the
# patch is signed in place.
sign_on_request() {
  local parent=$1
  while kill -0 "$parent" 2>/dev/null; do
    for request in "$VELK_WORK"/*.sign-request; do
      [ -f "$request" ] || continue
      patch=${request%.sign-request}
      timeout 20 osslsigncode sign -certs "$VELK_SIGNING/cert.pem" -key "$VELK_SIGNING/key.pem" \
        -n "velkpatch e2e" -in "$patch" -out "$patch.signed" >"$VELK_SIGNING/sign.log" 2>&1 &&
        mv "$patch.signed" "$patch" || cat "$VELK_SIGNING/sign.log" >&2
      rm -f "$request"
    done
    sleep 0.1
  done
}
sign_on_request $$ &
signer=$!
start=$(date +%s)
# About a minute on a quiet machine; the long applications read 8 GiB images several times,
# which a machine busy with other work can stretch several times over.
timeout --kill-after=10 420 "$VELK_WINE" "$VELK_DRIVER" "$VELK_STUB" "$VELK_WORK" "$VELK_SHOTS"
status=$?
kill "$watcher" "$signer" 2>/dev/null
wait "$watcher" "$signer" 2>/dev/null
echo "run_e2e: driver finished in $(( $(date +%s) - start )) s with status $status"
exit $status
INNER
)

export VELK_REG="$here/e2e_prefix.reg" VELK_DRIVER="$driver" VELK_STUB="$stub"
export VELK_WORK="$out/work" VELK_SHOTS="$out/screenshots"
status=0
timeout --kill-after=10 540 xvfb-run -a -s "-screen 0 1024x768x24" bash -c "$inner" || status=$?

# Leave nothing behind, even when a stage ran out of time.
"$wineserver" -k >/dev/null 2>&1 || true

exit "$status"
