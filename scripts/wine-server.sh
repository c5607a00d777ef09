#!/usr/bin/env bash
# Keeps one wineserver running for the project's Wine prefix of PROGRAM.exe's kind through many
# runs, or ends it with every Windows process in that prefix.
#   wine-server.sh hold PROGRAM.exe     (returns once the server and Wine's services are up)
#   wine-server.sh end PROGRAM.exe
# Debian's wineserver ends the moment its last program does, and a program that starts in that
# moment dies with "wine client error:0: recvmsg: Connection reset by peer". A held server never
# ends in between. Wine's own services start with it, from a first program with no terminal or
# pipe: living on, none of them holds a test's output open (CTest waits for that to close).
set -eu
action=${1:-}
[ $# -eq 2 ] && { [ "$action" = hold ] || [ "$action" = end ]; } ||
  { echo "usage: wine-server.sh hold|end PROGRAM.exe" >&2; exit 2; }
source "$(dirname "$0")/wine-env.sh" "$2"

if [ "$action" = end ]; then
  "$wineserver" -k >/dev/null 2>&1 || true
  exit 0
fi
# The server lives in the prefix's folder; Wine fills a new, empty one on its first run.
mkdir -p "$WINEPREFIX"
# A server that ends when its last program does may still be there: it goes first.
timeout 60 "$wineserver" -w 2>/dev/null || "$wineserver" -k 2>/dev/null || true
"$wineserver" -p </dev/null >/dev/null 2>&1
timeout 300 "$wine" cmd /c exit </dev/null >/dev/null 2>&1
