#!/usr/bin/env bash
# Runs a Windows program under Wine, quietly, in the project's own Wine prefix.
export WINEPREFIX=${WINEPREFIX:-$HOME/.wine-velkpatch}
source "$(dirname "$0")/wine-env.sh"
exec "$wine" "$@"
