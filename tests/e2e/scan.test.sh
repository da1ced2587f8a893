#!/usr/bin/env bash
# kvscan.exe, the read-only check, on a 64-bit machine that holds the whole
# product family and other vendors' decoys: it runs the two list passes only,
# changes nothing at all (every key and value of HKLM and HKU in both views,
# with each key's time of last change, and every file and folder of drive C
# with its size and time of last change, the same before and after), counts
# exactly what the machine holds and exits 1, a second user's hives too, which
# it loads and unloads again. After kvclean.exe (the user logged on) it finds no
# trace and exits 0; when its check fails (an LSA package list that its list
# pass cannot read) it exits 2, changing nothing either. It takes no arguments;
# /? prints a help that names its version.
set -u
. "$KV_HARNESS/prefix.sh"
. "$KV_SOURCE_DIR/tests/e2e/lib.sh"
kv_scenario scan
kv_prefix_new win64 || kv_abort "a fresh 64-bit machine"
kv_plant
planted=$(kv_family_counts)
[ -n "$planted" ] || kv_abort "the footprint counts what it planted"
# A second user, logged off: the family's keys in both of the user's hives.
user=S-1-5-21-1-2-3-1001
plant_user() { kv_wine "$KV_FOOTPRINT" plant-user $user 'C:\users\bob' "$@" | tr -d '\r' | tee "$KV_OUT/user.plant"; }
user_keys=$(($(plant_user | sed -n 's/.*: \([0-9]*\) registry keys of the family$/\1/p' | paste -sd+)))
[ "$user_keys" -gt 0 ] || kv_abort "a second user is planted" "$(cat "$KV_OUT/user.plant")"
keys=${planted%% *}
keys=${keys:1}
planted="($((keys + user_keys)) ${planted#* }"

# scan NAME: kvscan.exe on the machine as it is (kv_scan), which it leaves
# exactly as it was.
scan() {
    kv_machine_state "$1-before"
    kv_scan "$1"
    kv_machine_state "$1-after"
    if cmp -s "$KV_OUT/$1-before.state" "$KV_OUT/$1-after.state"; then
        kv_pass "$1: nothing changed, registry and drive C ($(wc -l <"$KV_OUT/$1-after.state") lines of state)"
    else
        kv_fail "$1: nothing changed" "$(diff "$KV_OUT/$1-before.state" "$KV_OUT/$1-after.state" | head -20)"
    fi
}

scan planted
out="$KV_OUT/planted.out"
kv_check "on the planted machine kvscan exits with 1" [ "$KV_SCAN_RC" -eq 1 ]
kv_check "two passes (one Start Menu line each), both list passes: no line of a change" \
    [ "$(kv_count "$out" '^Path to Start Menu ')" -eq 2 -a "$(kv_count "$out" "$KV_CHANGE_LINES")" -eq 0 ]
kv_check "every report is a find" \
    [ "$(kv_count "$out" 'An error occurred')" -gt 0 -a "$(kv_count "$out" 'An error occurred')" -eq "$(kv_count "$out" '^install:[0-9]+:Redundant data found')" ]
kv_check "its last line counts what the machine holds: $(kv_last_line "$out")" \
    [ "$(kv_last_line "$out")" = "$(kv_found_line "$planted")" ]
kv_check "nothing is printed to standard error" [ ! -s "$KV_OUT/planted.err" ]
kv_check "it looked in the second user's hive, loaded as its own, in both passes" \
    [ "$(grep -cxF "Hive of $user (loaded as HKEY_USERS\\kvclean-$user): C:\\users\\bob\\NTUSER.DAT" "$out")" -eq 2 ]
kv_check "and left no hive loaded" [ "$(kv_wine reg query HKU | grep -ci kvclean-)" -eq 0 ]

# The user logs on: kvclean removes the family from the loaded hives, nothing else.
plant_user --logged-on >/dev/null

kv_run clean clean
kv_check "kvclean.exe then exits with 0" [ "$KV_RUN_RC" -eq 0 ]
kv_check "and its last line says it removed all of it: $(kv_last_line "$KV_OUT/clean.out")" \
    [ "$(kv_last_line "$KV_OUT/clean.out")" = "kvclean: removed ${planted:1:-1}; 0 deferred to the next reboot; 0 failures" ]
scan cleaned
kv_check "after the cleanup kvscan exits with 0" [ "$KV_SCAN_RC" -eq 0 ]
kv_check "and says so in its last line" [ "$(kv_last_line "$KV_OUT/cleaned.out")" = 'kvscan: no trace of the family found' ]
kv_check "the second user's own keys stay" kv_wine reg query "HKU\\$user\\Software\\Contoso\\Vault" /v Secret
kv_expect_nothing_found "$KV_OUT/cleaned.out" 2

# A list pass that cannot read the LSA package list reports a failure.
kv_wine reg delete 'HKLM\SYSTEM\CurrentControlSet\Control\Lsa' /v 'Security Packages' /f >/dev/null 2>&1 || kv_abort "the LSA package list is removed"
scan broken
kv_check "a check that fails exits with 2" [ "$KV_SCAN_RC" -eq 2 ]
kv_check "and says so in its last line: $(kv_last_line "$KV_OUT/broken.out")" \
    [ "$(kv_last_line "$KV_OUT/broken.out")" = 'kvscan: check failed with 4 failures; 0 items of the family found (0 registry keys, 0 values, 0 list entries, 0 files and folders)' ]

kv_scan help '/?'
kv_check "kvscan /? prints a short help, checks nothing and exits with 2" \
    [ "$KV_SCAN_RC" -eq 2 -a "$(wc -l <"$KV_OUT/help.out")" -eq 3 -a "$(kv_count "$KV_OUT/help.out" 'Path to Start Menu')" -eq 0 ]
version=$(sed -n 's/^project(kvclean VERSION \([0-9.]*\) .*/\1/p' "$KV_SOURCE_DIR/CMakeLists.txt")
kv_check "and names its version last: $(kv_last_line "$KV_OUT/help.out")" [ "$(kv_last_line "$KV_OUT/help.out")" = "kvscan $version" ]
kv_scan word clean
kv_check "any other argument is an error: exit 2, a message on standard error, nothing checked" \
    [ "$KV_SCAN_RC" -eq 2 -a ! -s "$KV_OUT/word.out" -a -s "$KV_OUT/word.err" ]
kv_finish
