#!/usr/bin/env bash
# The fleet scripts of docs/fleet/ and the commands of docs/fleet.md, run under
# Wine as Windows runs them (cmd /c), from the folder the document installs
# them in with its own install command, on a clean machine, a planted one,
# one whose modules are in use until a restart, and one whose check fails:
# each returns and prints what the document says.
set -u
. "$KV_HARNESS/prefix.sh"
. "$KV_SOURCE_DIR/tests/e2e/lib.sh"
kv_scenario fleet
kv_prefix_new win64 || kv_abort "a fresh 64-bit machine"

doc="$KV_SOURCE_DIR/docs/fleet.md"
folder='C:\Program Files\kvclean'
install=$(kv_unix_path "$folder")
logs="$install/logs"
stage=$(kv_unix_path 'C:\kvstage')
# doc_command START FOLDER: the document's command line that begins with
# START, run by cmd (from a batch file, as an installer's command line) in FOLDER.
doc_command() {
    grep -o "\`$1[^\`]*\`" "$doc" | tr -d '`' >"$(kv_unix_path 'C:\kvcommand.cmd')"
    kv_wine cmd /c "cd /d $2 && C:\\kvcommand.cmd" >/dev/null 2>&1
}
mkdir -p "$stage" && cp "$KV_SCANNER" "$KV_PROGRAM" "$KV_SOURCE_DIR"/docs/fleet/*.cmd "$stage/" &&
    doc_command 'xcopy ' 'C:\kvstage' && [ -f "$install/kvscan.exe" ] ||
    kv_abort "the document's install command puts the programs and scripts in $folder"
clean_line='kvscan: no trace of the family found'
# Linux keeps the low byte of an exit code: 3010 arrives as 194.
reboot_rc=$((3010 % 256))

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
# startup NAME: gpo-startup.cmd; its log of this start, a file of its own, is $startup_log.
startup() {
    local before=$(ls "$logs")
    script "$1" gpo-startup.cmd
    startup_log=$logs/$(comm -13 <(echo "$before") <(ls "$logs") | grep -x 'gpo-startup-.*\.log')
    [ -f "$startup_log" ] || kv_fail "$1: this start's log is a file of its own" "$(ls "$logs")"
    logged=$(grep -a '^kv' "$startup_log" | tr -d '\r')
}

# A clean machine.
script clean-detect kvscan-detect.cmd
kv_check "clean: the detection exits 0 and prints kvscan's last line alone: $(last clean-detect)" \
    [ $RC -eq 0 -a "$(cat "$KV_OUT/clean-detect.out")" = "$clean_line" ]
kv_check "its log holds kvscan's whole output" [ "$(grep -ac '^Path to Start Menu ' "$logs/kvscan-detect.log")" -eq 2 ]
script clean-discover configmgr-discover.cmd
kv_check "clean: the discovery prints one line, the compliant value" [ $RC -eq 0 -a "$(cat "$KV_OUT/clean-discover.out")" = "$clean_line" ]
startup clean-startup
kv_check "clean: the startup script exits 0 and runs kvscan only" [ $RC -eq 0 -a "$logged" = "$clean_line" ]
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
startup startup
if [ $RC -eq 0 ] && [ "$(head -1 <<<"$logged")" = "$(kv_found_line "$counts")" ] &&
    [ "$(tail -1 <<<"$logged")" = "kvclean: removed ${counts:1:-1}; 0 deferred to the next reboot; 0 failures" ]; then
    kv_pass "planted: the startup script exits 0, having run kvscan, then kvclean"
else
    kv_fail "planted: the startup script exits 0, having run kvscan, then kvclean (exit $RC)" "$logged"
fi
startup startup-again
kv_check "at the next start it finds the machine clean" [ $RC -eq 0 -a "$logged" = "$clean_line" ]

# Modules in use: the cleanup defers them. Until the restart nothing is left
# but their deletions, and every tool is told so: 1 (with issues), 3, 3010.
kv_plant
kv_step "$KV_BUILD_DIR/tests/test_e2e.exe" 'FamilyModuleHolder.DISABLED_HoldUntilReleased' holder &
holder=$!
signal() { for _ in $(seq 600); do [ -e "$(kv_unix_path "C:\\kve2e\\holder.$1")" ] && return; sleep 0.1; done; }
signal ready && touch "$(kv_unix_path 'C:\kve2e\holder.unlock')" && signal unlocked
# kvclean fails in part: its log folder is a file.
kvlogs=$(kv_unix_path 'C:\ProgramData\kvclean\logs')
mv "$kvlogs" "$kvlogs.away" && touch "$kvlogs"
script held-remediate kvclean-remediate.cmd
rm "$kvlogs" && mv "$kvlogs.away" "$kvlogs"
waiting=$(kv_last_line "$logs/kvclean-remediate.log" | tr -d '\r')
kv_check "held modules, kvclean failing in part: the remediation exits 3010, ending with kvclean's last line: $(last held-remediate)" \
    [ $RC -eq $reboot_rc -a -n "$(last held-remediate | grep '; [1-9] deferred to the next reboot; [1-9] failures$')" ]
kv_check "kvscan, after it, finds only deletions waiting: $waiting" grep -qx 'kvscan: nothing left to remove; [1-9] deletions wait for the next reboot' <<<"$waiting"
script held-detect kvscan-detect.cmd
kv_check "waiting: the detection exits 1 and prints that line" [ $RC -eq 1 -a "$(cat "$KV_OUT/held-detect.out")" = "$waiting" ]
program held-ansible-scan kvscan.exe
kv_check "waiting: Ansible's first task gets rc 3 (not failed; the host restarts)" [ $RC -eq 3 ]
startup held-startup
kv_check "waiting: the startup script exits 3010 and runs kvscan only" [ $RC -eq $reboot_rc -a "$logged" = "$waiting" ]
touch "$(kv_unix_path 'C:\kve2e\holder.release')"
wait "$holder"
kv_prefix_reboot
script rebooted-detect kvscan-detect.cmd
kv_check "after the restart the detection exits 0" [ $RC -eq 0 -a "$(last rebooted-detect)" = "$clean_line" ]

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
startup broken-startup
kv_check "failed check: the startup script runs kvclean, whose own failure is its exit code ($RC)" \
    [ $RC -ne 0 -a "$(grep -c '^kvclean: removed ' <<<"$logged")" -eq 1 ]
kv_finish
