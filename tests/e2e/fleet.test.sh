#!/usr/bin/env bash
# The fleet scripts of docs/fleet/ and the commands of docs/fleet.md, run under
# Wine as Windows runs them (cmd /c), from the folder the document installs
# them in, on a clean machine, a planted one, and one whose check fails: each
# returns and prints what the document says.
set -u
. "$KV_HARNESS/prefix.sh"
. "$KV_SOURCE_DIR/tests/e2e/lib.sh"
kv_scenario fleet
kv_prefix_new win64 || kv_abort "a fresh 64-bit machine"

doc="$KV_SOURCE_DIR/docs/fleet.md"
folder='C:\Program Files\kvclean'
install=$(kv_unix_path "$folder")
mkdir -p "$install" && cp "$KV_SCANNER" "$KV_PROGRAM" "$KV_SOURCE_DIR"/docs/fleet/*.cmd "$install/" ||
    kv_abort "the programs and scripts are installed"
log=$(kv_unix_path 'C:\windows\temp\kvclean-startup.log')
clean_line='kvscan: no trace of the family found'

# script NAME FILE: `cmd /c` on a batch file of the installed folder, which the
# document names; output in NAME.out; sets RC.
script() {
    grep -qF -- "$2" "$doc" || kv_fail "docs/fleet.md names $2"
    kv_wine cmd /c "$folder\\$2" 2>&1 | tr -d '\r' >"$KV_OUT/$1.out"
    RC=${PIPESTATUS[0]}
}
# program NAME EXE ARGS...: an installed program started as Ansible's
# win_command starts it; the document shows the command line.
program() {
    local name=$1 exe=$2
    shift 2
    grep -qF -- "\"$folder\\$exe\"${*:+ $*}" "$doc" || kv_fail "docs/fleet.md shows \"$folder\\$exe\" $*"
    kv_wine "$folder\\$exe" "$@" 2>&1 | tr -d '\r' >"$KV_OUT/$name.out"
    RC=${PIPESTATUS[0]}
}
last() { kv_last_line "$KV_OUT/$1.out"; }

# A clean machine.
script clean-detect kvscan-detect.cmd
kv_check "clean: the detection exits 0, its last line kvscan's: $(last clean-detect)" [ $RC -eq 0 -a "$(last clean-detect)" = "$clean_line" ]
script clean-discover configmgr-discover.cmd
kv_check "clean: the discovery prints one line, the compliant value" [ $RC -eq 0 -a "$(cat "$KV_OUT/clean-discover.out")" = "$clean_line" ]
script clean-startup gpo-startup.cmd
kv_check "clean: the startup script exits 0 and runs kvscan only" \
    [ $RC -eq 0 -a "$(grep -a '^kv' "$log" | tr -d '\r')" = "$clean_line" ]
program clean-ansible-scan kvscan.exe
kv_check "clean: Ansible's first task gets rc 0 (not changed, not failed)" [ $RC -eq 0 ]

# A planted machine: detection, remediation, detection again.
kv_plant
counts=$(kv_family_counts)
script detect kvscan-detect.cmd
found=$(kv_found_line "$counts")
kv_check "planted: the detection exits 1, its last line: $(last detect)" [ $RC -eq 1 -a "$(last detect)" = "$found" ]
script discover configmgr-discover.cmd
kv_check "planted: the discovery prints kvscan's last line alone" [ $RC -eq 0 -a "$(cat "$KV_OUT/discover.out")" = "$found" ]
export64="$KV_OUT/kor-vane-64.reg"
kv_wine reg export 'HKLM\SOFTWARE\Kor Vane' "Z:${export64//\//\\}" /reg:64 /y >/dev/null 2>&1
script remediate kvclean-remediate.cmd
kv_check "planted: the remediation exits 0; its last line: $(last remediate)" \
    [ $RC -eq 0 -a "$(last remediate)" = "kvclean: removed ${counts:1:-1}; 0 deferred to the next reboot; 0 failures" ]
script after-detect kvscan-detect.cmd
kv_check "remediated: the detection exits 0" [ $RC -eq 0 -a "$(last after-detect)" = "$clean_line" ]

# What reg import brings back, kvscan finds again (as an undo file would).
kv_wine reg import "Z:${export64//\//\\}" /reg:64 >/dev/null 2>&1
grep -qF 'reg import FILE /reg:64' "$doc" || kv_fail "docs/fleet.md shows reg import FILE /reg:64"
program restored-ansible-scan kvscan.exe
kv_check "restored with reg import /reg:64: kvscan exits 1 (Ansible: changed, kvclean runs)" [ $RC -eq 1 ]
program restored-ansible-clean kvclean.exe clean
kv_check "Ansible's second task gets rc 0 (not failed)" [ $RC -eq 0 ]

# The startup script on a planted machine: check, then cleanup, both logged.
kv_plant
counts=$(kv_family_counts)
script startup gpo-startup.cmd
logged=$(grep -a '^kv' "$log" | tr -d '\r')
if [ $RC -eq 0 ] && [ "$(head -1 <<<"$logged")" = "$(kv_found_line "$counts")" ] &&
    [ "$(tail -1 <<<"$logged")" = "kvclean: removed ${counts:1:-1}; 0 deferred to the next reboot; 0 failures" ]; then
    kv_pass "planted: the startup script exits 0, having run kvscan, then kvclean"
else
    kv_fail "planted: the startup script exits 0, having run kvscan, then kvclean (exit $RC)" "$logged"
fi
script startup-again gpo-startup.cmd
kv_check "at the next start it finds the machine clean" [ $RC -eq 0 -a "$(grep -a '^kv' "$log" | tr -d '\r')" = "$clean_line" ]

# Another user, logged off: the remediation loads the user's hives under names
# of its own, cleans and unloads them; its undo file says how to load one for
# an import. (Wine does not write a loaded hive back to its file.)
user=S-1-5-21-1-2-3-1002
kv_wine "$KV_FOOTPRINT" plant-user $user 'C:\users\carol' >"$KV_OUT/user.plant" 2>&1
script user-detect kvscan-detect.cmd
kv_check "another user's traces: the detection exits 1" [ $RC -eq 1 ]
script user-remediate kvclean-remediate.cmd
hive_cleaned() {
    grep -A12 -xF "Hive of $user (loaded as HKEY_USERS\\kvclean-$user): C:\\users\\carol\\NTUSER.DAT" \
        "$KV_OUT/user-remediate.out" | grep -qxF 'Deleted Software\Kor Vane\EFS'
}
kv_check "the remediation removes them from the user's hive, loaded as its own" hive_cleaned
undo=$(kv_unix_path "$(kv_undo_files "$KV_OUT/user-remediate.out" | head -1)")
kv_check "its undo file says how to load that hive for the import" \
    grep -qF "reg load HKU\\kvclean-$user \"C:\\users\\carol\\NTUSER.DAT\"" <(iconv -f UTF-16 -t UTF-8 "$undo")
kv_check "and no hive stays loaded" [ "$(kv_wine reg query HKU | grep -ci kvclean-)" -eq 0 ]
kv_wine reg delete "HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\$user" /f >/dev/null 2>&1

# A check that fails (a list pass cannot read the LSA package list) never passes for clean.
kv_wine reg delete 'HKLM\SYSTEM\CurrentControlSet\Control\Lsa' /v 'Security Packages' /f >/dev/null 2>&1
script broken-detect kvscan-detect.cmd
kv_check "failed check: the detection exits 1, its last line: $(last broken-detect)" \
    [ $RC -eq 1 -a "$(last broken-detect)" = "kvscan: check failed with 4 failures; 0 items of the family found (0 registry keys, 0 values, 0 list entries, 0 files and folders)" ]
script broken-discover configmgr-discover.cmd
kv_check "failed check: the discovery's value says so (noncompliant)" [ "$(cat "$KV_OUT/broken-discover.out")" = "$(last broken-detect)" ]
program broken-ansible-scan kvscan.exe
kv_check "failed check: Ansible's first task gets rc 2 (failed)" [ $RC -eq 2 ]
script broken-startup gpo-startup.cmd
kv_check "failed check: the startup script runs kvclean, whose own failure is its exit code ($RC)" \
    [ $RC -ne 0 -a "$(grep -ac '^kvclean: removed ' "$log")" -eq 1 ]
kv_finish
