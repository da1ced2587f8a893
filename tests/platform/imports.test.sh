#!/usr/bin/env bash
# How the shipped programs are put together. Their sources stand in rooms on
# floors, and every include points to the same room or a room below, with no
# cycle. They are self-contained 32-bit executables that run on a bare
# Windows XP or later: they import only from system DLLs, and the functions
# that XP lacks are looked up at run time instead of imported. kvscan.exe, the
# read-only check, imports none of the functions that change the machine
# (written out below, not read from the table that refuses them), all of which
# kvclean.exe does, but those that load a user's hive to read it. Each carries
# its application manifest and version resource.
set -u
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# The rooms, ground floor first: a room may include from itself and from the
# rooms before it.
rooms="platform run files undo registry plan front"
if ! python3 - "$KV_SOURCE_DIR" $rooms <<'PYTHON'
import os, re, sys
source, rooms = sys.argv[1], sys.argv[2:]
floor = {room: i for i, room in enumerate(rooms)}
includes = {}
for room in rooms:
    for name in sorted(os.listdir(os.path.join(source, room))):
        if name.endswith((".cpp", ".h")):
            text = open(os.path.join(source, room, name), encoding="utf-8").read()
            includes[room + "/" + name] = re.findall(r'^#include "([^"]+)"', text, re.M)
bad = 0
for path, targets in includes.items():
    for target in targets:
        room = target.split("/")[0]
        if room not in floor:
            print(f"FAIL: {path} includes {target}, which stands in no room of the program"); bad += 1
        elif floor[room] > floor[path.split("/")[0]]:
            print(f"FAIL: {path} includes {target}, a room above its own"); bad += 1
state = {}
def visit(path, trail):
    if state.get(path) == 1:
        global bad
        print("FAIL: includes run in a cycle: " + " -> ".join(trail[trail.index(path):] + [path])); bad += 1
        return
    if state.get(path) == 2: return
    state[path] = 1
    for target in includes.get(path, []):
        visit(target, trail + [path])
    state[path] = 2
for path in includes: visit(path, [])
print(f"{len(includes)} source files in {len(rooms)} rooms: every include points down" if not bad else "")
sys.exit(1 if bad else 0)
PYTHON
then
    fail "the rooms' includes"
fi
program=${KV_PROGRAM:-$KV_BUILD_DIR/kvclean.exe}
scanner=${KV_SCANNER:-$KV_BUILD_DIR/kvscan.exe}
objdump=${KV_OBJDUMP:-i686-w64-mingw32-objdump}
if [ ! -f "$program" ]; then
    echo "kvclean.exe is not built yet: no import table to check"
    exit $((failures > 0))
fi

# imported_functions EXE: one imported name a line.
imported_functions() {
    "$objdump" -p "$1" | awk '/The Import Tables/ {on=1} /^The (Export|Function) Table|^PE File Base/ {on=0} on' |
        awk 'NF >= 3 && $1 ~ /^[0-9a-f]+$/ {print $3}'
}

# check_imports EXE: only system DLLs, nothing newer than Windows XP.
check_imports() {
    local exe=$1 name headers dlls dll imported late
    name=$(basename "$exe")
    headers=$("$objdump" -p "$exe")
    grep -q 'file format pei-i386' <<<"$("$objdump" -f "$exe")" || fail "$name: not a 32-bit PE image"
    grep -q 'Subsystem.*00000003' <<<"$headers" || fail "$name: not a console program"

    local allowed='^(kernel32|advapi32|user32|shell32|shlwapi|msvcrt)\.dll$'
    dlls=$(awk '/DLL Name:/ {print tolower($3)}' <<<"$headers" | sort -u)
    echo "$name imports from: $(echo $dlls)"
    for dll in $dlls; do
        [[ $dll =~ $allowed ]] || fail "$name imports from $dll"
    done

    imported=$(imported_functions "$exe")
    [ -n "$imported" ] || fail "$name: no imported functions found (objdump output changed?)"
    # Looked up at run time, never imported; and functions newer than Windows XP.
    for late in RegDeleteKeyExW IsWow64Process Wow64DisableWow64FsRedirection Wow64RevertWow64FsRedirection \
        NtDeleteKey NtQueryKey GetTickCount64 InitializeSRWLock AcquireSRWLockExclusive InitializeConditionVariable \
        InitOnceExecuteOnce CreateSymbolicLinkW GetFinalPathNameByHandleW RegDeleteTreeW RegGetValueW; do
        grep -qx "$late" <<<"$imported" && fail "$name: $late is imported"
    done
}

# check_resources EXE LEVEL: the application manifest (well-formed XML, or
# Windows refuses to start the program) asks for LEVEL in the namespace that
# Windows XP accepts and names Windows Vista to 11; the version resource
# carries the version of CMakeLists.txt and the program's own names.
version=$(sed -n 's/^project(kvclean VERSION \([0-9.]*\) .*/\1/p' "$KV_SOURCE_DIR/CMakeLists.txt")
check_resources() {
    local rc
    rc=$("${objdump%objdump}windres" -i "$1" -O rc 2>&1) || { fail "$(basename "$1"): no resources: $rc"; return; }
    python3 -c '
import re, sys, xml.etree.ElementTree as tree
name, level, version, rc = sys.argv[1:]
systems = {"{e2011457-1546-43c5-a5fe-008deee3d3f0}", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
           "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
           "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}
manifest = re.search(r"^1 24 /\* RT_MANIFEST \*/\nBEGIN\n(.*?)^END", rc, re.S | re.M)
text = "".join(re.findall(r"^\s*\"(.*)\"$", manifest.group(1), re.M)) if manifest else "<none/>"
asm2 = "{urn:schemas-microsoft-com:asm.v2}"
root = tree.fromstring(text.replace("\"\"", "\"").replace("\\n", "\n"))
found = {"level": [e.get("level") for e in root.iter() if e.tag == asm2 + "requestedExecutionLevel"],
         "systems": {e.get("Id") for e in root.iter() if e.tag.endswith("}supportedOS")}}
found.update(re.findall(r"VALUE \"(\w+)\", \"([^\"]*)\"", rc))
numbers = re.search(r"^ FILEVERSION (\d+), (\d+), (\d+), 0$", rc, re.M)
found["numbers"] = ".".join(numbers.groups()) if numbers else None
expected = {"level": [level], "systems": systems, "FileVersion": version, "ProductVersion": version,
            "numbers": version, "ProductName": "kvclean", "OriginalFilename": name, "InternalName": name[:-4]}
bad = [f"{key}: {found.get(key)!r}, not {want!r}" for key, want in expected.items() if found.get(key) != want]
bad += [f"no {key}" for key in ("CompanyName", "FileDescription", "LegalCopyright") if not found.get(key)]
print(f"{name}: " + ("; ".join(bad) if bad else f"{level}, Windows Vista to 11, version {version}"))
sys.exit(1 if bad else 0)' "$(basename "$1")" "$2" "$version" "$rc" || fail "$(basename "$1"): manifest or version resource"
}

check_imports "$program"
check_resources "$program" requireAdministrator
if [ -f "$scanner" ]; then
    check_imports "$scanner"
    check_resources "$scanner" requireAdministrator
    # Every function of the platform table that changes the machine. kvscan
    # imports three more that kvclean imports too: RegLoadKeyW and RegUnLoadKeyW,
    # to read a user's hive that is not loaded, and AdjustTokenPrivileges, which
    # its table lets enable the backup and restore privileges and nothing else.
    writing="RegSetValueExW RegDeleteValueW RegSetKeySecurity SetKernelObjectSecurity
        SetFileAttributesW DeleteFileW RemoveDirectoryW GetTempFileNameW MoveFileExW CreateDirectoryW WriteFile
        ExitWindowsEx"
    cleaner=$(imported_functions "$program")
    scanner_imports=$(imported_functions "$scanner")
    for function in $writing; do
        grep -qx "$function" <<<"$cleaner" || fail "kvclean.exe does not import $function: is it still called?"
        grep -qx "$function" <<<"$scanner_imports" && fail "kvscan.exe imports $function, which changes the machine"
    done
    # Functions that change the machine and that neither program calls today.
    for function in RegDeleteKeyW RegDeleteKeyExW RegDeleteTreeW RegCreateKeyExW RegCreateKeyW RegSetValueW RegReplaceKeyW RegRestoreKeyW RegSaveKeyW CopyFileW \
        MoveFileW ReplaceFileW SetFileSecurityW SetNamedSecurityInfoW SetFileTime SetEndOfFile InitiateSystemShutdownExW; do
        grep -qx "$function" <<<"$scanner_imports" && fail "kvscan.exe imports $function, which changes the machine"
    done
    echo "kvscan.exe imports none of:" $writing
else
    fail "kvscan.exe is not built"
fi

if [ $failures -gt 0 ]; then
    echo "$failures import check(s) failed"
    exit 1
fi
echo "import tables: only system DLLs, no function newer than Windows XP, nothing that writes in kvscan.exe"
