#!/bin/sh
# check_stub_imports.sh OBJDUMP PROGRAM
# The program may load only these libraries when it starts; every other one is delay-loaded.
set -eu
objdump=$1 program=$2
dlls=$("$objdump" -p "$program" | awk '/DLL Name:/ { print tolower($3) }' | sort -u | tr '\n' ' ')
for dll in $dlls; do
  case $dll in
    kernel32.dll | advapi32.dll | msvcrt.dll) ;;
    *) echo "$program: imports $dll when it starts (only kernel32, advapi32 and msvcrt may be; the others are delay-loaded)" >&2
       exit 1 ;;
  esac
done
