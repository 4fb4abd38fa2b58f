#!/usr/bin/env bash
# Fails when a Windows binary imports a MinGW runtime DLL: every shipped file
# must run on a clean Windows.
set -u
status=0
for f in "$@"; do
  bad=$(x86_64-w64-mingw32-objdump -p "$f" | grep 'DLL Name' | grep -iE 'libstdc\+\+|libgcc|libwinpthread')
  if [ -n "$bad" ]; then
    echo "$f imports MinGW runtime DLLs:"; echo "$bad"; status=1
  else
    echo "$f: no MinGW runtime DLLs"
  fi
done
exit $status
