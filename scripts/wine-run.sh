#!/usr/bin/env bash
# Runs a Windows program under Wine, quietly, in the project's own Wine prefix for programs of
# its kind (wine-env.sh).
#   wine-run.sh PROGRAM.exe [ARGUMENTS...]
source "$(dirname "$0")/wine-env.sh" "${1:-}"
exec "$wine" "$@"
