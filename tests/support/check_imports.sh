#!/usr/bin/env bash
# Every DLL that a program imports statically must be one the loader takes
# from the system directory whatever lies beside the program: a KnownDLL
# (the list of Windows 10; ntdll is always the system's). Prints what it
# finds and fails on any other import.
set -euo pipefail
objdump=$1
exe=$2
known=" advapi32 clbcatq combase comdlg32 coml2 difxapi gdi32 gdiplus imagehlp imm32 kernel32 msctf msvcrt normaliz"
known+=" nsi ntdll ole32 oleaut32 psapi rpcrt4 sechost setupapi shcore shell32 shlwapi user32 wldap32 ws2_32 "
imports=$("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sed 's/\.dll$//')
[ -n "$imports" ] || { echo "no imports found in $exe"; exit 1; }
bad=0
for dll in $imports; do
  case "$known" in
    *" $dll "*) echo "import $dll.dll: a KnownDLL" ;;
    *) echo "import $dll.dll: NOT a KnownDLL, the loader may take it from the program's folder"; bad=1 ;;
  esac
done
exit $bad
