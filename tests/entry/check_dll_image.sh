#!/bin/sh
# Checks a shipped library (PRNLINK.DLL, QUILLDLG.dll) as Windows and the spooler see it:
# exactly its exports, undecorated; imports of system libraries only (the C++ runtime is linked in), so that the
# file can be copied into System32 as it is; and the C runtime's start-up code as the entry
# point, so that global objects are constructed at load and destroyed at unload before
# DllEntryPoint runs for each reason.
# Usage: check_dll_image.sh OBJDUMP NM DLL ARCH (i686 or x64) "EXPORT..." (sorted)
set -eu
objdump="$1"
nm="$2"
dll="$3"
arch="$4"
expected="$5"
failed=0
fail() {
    echo "FAIL: $*"
    failed=1
}

dump=$("$objdump" -p "$dll")

# The machine a spooler of that architecture loads.
case "$arch" in
x64) format=pei-x86-64 ;;
i686) format=pei-i386 ;;
*) format="unknown architecture $arch" ;;
esac
"$objdump" -f "$dll" | grep -q "file format $format\$" ||
    fail "not a $arch image: $("$objdump" -f "$dll" | sed -n 's/.*file format //p')"

exports=$(printf '%s\n' "$dump" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' |
    sed -n 's/^[[:space:]]*\[ *[0-9]*\][[:space:]]*//p' | sort | tr '\n' ' ')
if [ "$exports" != "$expected " ]; then
    fail "exports are '$exports'"
fi

imports=$(printf '%s\n' "$dump" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z')
[ -n "$imports" ] || fail "no imports found"
for library in $imports; do
    case "$library" in
    kernel32.dll | user32.dll | advapi32.dll | gdi32.dll | winspool.drv | msvcrt.dll | \
        ntdll.dll | version.dll | shell32.dll | ole32.dll | oleaut32.dll | comctl32.dll | \
        comdlg32.dll | ws2_32.dll | shlwapi.dll) ;;
    *) fail "imports $library, which is not a system library" ;;
    esac
done

base=$(printf '%s\n' "$dump" | sed -n 's/^ImageBase[[:space:]]*//p')
entry=$(printf '%s\n' "$dump" | sed -n 's/^AddressOfEntryPoint[[:space:]]*//p')
address=$(printf '%x' $((0x$base + 0x$entry)))
# nm writes addresses 8 or 16 digits wide: compare them without their leading zeros.
symbols=$("$nm" "$dll" | awk -v a="$address" '{ n = $1; sub(/^0+/, "", n) } n == a { print $3 }' |
    tr '\n' ' ')
case "$symbols" in
*DllMainCRTStartup*) ;;
*) fail "entry point $address is '$symbols', not the C runtime's DllMainCRTStartup" ;;
esac

[ "$failed" -eq 0 ] && echo "$(basename "$dll"): exports, imports and entry point as expected"
exit "$failed"
