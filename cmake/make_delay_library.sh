#!/bin/sh
# make_delay_library.sh NM DLLTOOL IMPORT-LIBRARY DLL OUTPUT
# Makes a delay-loaded import library with every function of a toolchain import library: the DLL is then
# loaded at the first call into it (by the toolchain's __delayLoadHelper2), not when the program starts.
# On i686 the import library's symbols carry the stdcall decoration (_Name@N); the DLL exports Name.
set -eu
nm=$1 dlltool=$2 library=$3 dll=$4 output=$5
machine=$("$nm" -g "$library" | awk '$2 == "I" && $3 ~ /^__imp__.*@[0-9]+$/ { print "i686"; exit }')
{
  echo "LIBRARY $dll"
  echo "EXPORTS"
  "$nm" -g "$library" | awk -v i686="$machine" '
    $2 == "I" && $3 ~ /^__imp_/ {
      name = substr($3, 7)
      if (i686 != "") name = substr(name, 2)
      print name
    }' | sort -u
} >"$output.def"
kill_at=
[ -n "$machine" ] && kill_at=--kill-at
"$dlltool" $kill_at --input-def "$output.def" --output-delaylib "$output" --dllname "$dll"
