#!/usr/bin/env bash
# The shipped program is one self-contained 32-bit executable that runs on a
# bare Windows XP or later: it imports only from system DLLs, and the functions
# that XP lacks are looked up at run time instead of imported.
set -u
program=${KV_PROGRAM:-$KV_BUILD_DIR/kvclean.exe}
objdump=${KV_OBJDUMP:-i686-w64-mingw32-objdump}
if [ ! -f "$program" ]; then
    echo "kvclean.exe is not built yet: nothing to check"
    exit 0
fi
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

headers=$("$objdump" -p "$program")
grep -q 'file format pei-i386' <<<"$("$objdump" -f "$program")" || fail "not a 32-bit PE image"
grep -q 'Subsystem.*00000003' <<<"$headers" || fail "not a console program"

allowed='^(kernel32|advapi32|user32|shell32|shlwapi|msvcrt)\.dll$'
dlls=$(awk '/DLL Name:/ {print tolower($3)}' <<<"$headers" | sort -u)
echo "imports from: $(echo $dlls)"
for dll in $dlls; do
    [[ $dll =~ $allowed ]] || fail "imports from $dll"
done

imported=$(awk '/The Import Tables/ {on=1} /^The (Export|Function) Table|^PE File Base/ {on=0} on' <<<"$headers" |
    awk 'NF >= 3 && $1 ~ /^[0-9a-f]+$/ {print $3}')
[ -n "$imported" ] || fail "no imported functions found (objdump output changed?)"
# Looked up at run time, never imported; and functions newer than Windows XP.
for late in RegDeleteKeyExW IsWow64Process Wow64DisableWow64FsRedirection Wow64RevertWow64FsRedirection NtDeleteKey \
    GetTickCount64 InitializeSRWLock AcquireSRWLockExclusive InitializeConditionVariable InitOnceExecuteOnce \
    CreateSymbolicLinkW GetFinalPathNameByHandleW RegDeleteTreeW RegGetValueW; do
    grep -qx "$late" <<<"$imported" && fail "$late is imported"
done

if [ $failures -gt 0 ]; then
    echo "$failures import check(s) failed"
    exit 1
fi
echo "import table: only system DLLs, no function newer than Windows XP"
