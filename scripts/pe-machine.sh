#!/usr/bin/env bash
# Prints the machine a Windows program is built for, x86 or x64, as its PE header says; fails
# for any other file.
#   pe-machine.sh PROGRAM.exe
set -u
[[ $(head -c 2 "$1" 2>/dev/null) == MZ ]] || exit 1
header=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
[[ -n $header ]] || exit 1
case $(od -An -tx2 -j$((header + 4)) -N2 "$1" | tr -d ' ') in
  014c) echo x86 ;;
  8664) echo x64 ;;
  *) exit 1 ;;
esac
