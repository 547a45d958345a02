#!/bin/sh
# Makes a delay-import library for a system DLL from mingw-w64's ordinary
# import library: every function the import library offers, resolved only
# when first called (through the CRT's __delayLoadHelper2) instead of when
# the program is loaded.
#   delay_import_lib.sh NM DLLTOOL IMPORT_LIB DLL_NAME OUTPUT
set -eu
nm=$1 dlltool=$2 import_lib=$3 dll=$4 output=$5
def="$output.def"
{
    echo "LIBRARY $dll"
    echo "EXPORTS"
    # i686 stdcall names: _Name@N in the library, Name@N in the .def file.
    "$nm" -g --defined-only "$import_lib" | awk '$2 == "T" { s = $3; sub(/^_/, "", s); print s }' |
        sort -u
} >"$def"
"$dlltool" -k -d "$def" -y "$output"
