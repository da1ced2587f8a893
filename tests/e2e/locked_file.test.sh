#!/usr/bin/env bash
# Two of the family's modules are loaded by another process while kvclean.exe
# runs (the provider in its program folder, the TLS package in the system
# directory): the run still succeeds, both files leave their paths at once and
# are registered for deletion at the next reboot, with the folders that hold
# them; its last line counts what it removed (both held modules among it) and
# the four deletions that wait, and kvscan finds nothing any more; after a
# restart of the machine nothing of them is left.
set -u
. "$KV_HARNESS/prefix.sh"
. "$KV_SOURCE_DIR/tests/e2e/lib.sh"
kv_scenario locked_file
kv_prefix_new win64 || kv_abort "a fresh 64-bit machine"
kv_plant
planted=$(kv_family_counts)

ready=$(kv_unix_path 'C:\kve2e\holder.ready')
release=$(kv_unix_path 'C:\kve2e\holder.release')
kv_step "$KV_BUILD_DIR/tests/test_e2e.exe" 'FamilyModuleHolder.DISABLED_HoldUntilReleased' holder &
holder=$!
for _ in $(seq 600); do [ -e "$ready" ] && break; sleep 0.1; done
[ -e "$ready" ] || kv_abort "the other process holds the modules" "$(cat "$KV_OUT/holder.out" 2>/dev/null)"

kv_run first clean
out="$KV_OUT/first.out"
kv_check "the run exits with 0" [ "$KV_RUN_RC" -eq 0 ]
kv_check "no error report" [ "$(kv_count "$out" 'An error occurred')" -eq 0 ]
# The native pass names the 32-bit system directory by its own path.
system_module='C:\windows\syswow64\kvssl.dll'
kv_check "the held system module could not be deleted, and is marked for deletion at reboot" \
    [ "$(grep -cxF -e "File: $system_module couldn't be deleted." -e "File: $system_module success mark delete at reboot." "$out")" -eq 2 ]
moved_provider='C:\\Program Files \(x86\)\\csp[0-9a-fA-F]+\.tmp\\csp[0-9a-fA-F]+\.tmp\\kvcsp\.dll'
kv_check "the held provider (in its folder, already moved aside) too" \
    [ "$(kv_count "$out" "^File: $moved_provider (couldn't be deleted|success mark delete at reboot)\.$")" -eq 2 ]
kv_check "the two folders that still hold it wait for the reboot" \
    [ "$(kv_count "$out" '^Marked to delete on reboot dir: C:\\Program Files \(x86\)\\csp')" -eq 2 ]

left=$(kv_family_counts)
kv_check "nothing of the family is left at its places: $left" \
    [ "$left" = "(0 registry keys, 0 values, 0 list entries, 0 files and folders)" ]
kv_check "the last line counts all that the machine held $planted and the four deletions that wait" \
    [ "$(kv_last_line "$out")" = "kvclean: removed ${planted:1:-1}; 4 deferred to the next reboot; 0 failures" ]
kv_scan waiting
kv_check "kvscan then finds no trace, although deletions wait for the reboot" \
    [ "$KV_SCAN_RC" -eq 0 -a "$(kv_last_line "$KV_OUT/waiting.out")" = 'kvscan: no trace of the family found' ]

kv_survey running
kv_expect_clean running "while the modules are still loaded"
scheduled=$(kv_survey_line running 'Scheduled for the next reboot')
kv_check "four deletions wait for the reboot (two modules, two folders): $scheduled" \
    [ "$scheduled" = 'Scheduled for the next reboot: 4' ]
temps=$(kv_temp_names)
kv_check "what waits lies under temporary names beside the original places" \
    [ "$(grep -c '^windows/syswow64/csp[^/]*$\|^Program Files (x86)/csp' <<<"$temps")" -eq "$(grep -c . <<<"$temps")" -a -n "$temps" ]

touch "$release"
wait "$holder"
kv_check "the other process held the modules to the end" [ $? -eq 0 ]
rm -f "$ready" "$release"

kv_prefix_reboot
kv_survey rebooted
kv_expect_clean rebooted "after the restart" restarted
kv_check "nothing waits for a reboot any more" \
    [ "$(kv_survey_line rebooted 'Scheduled')" = 'Scheduled for the next reboot: 0' ]
left=$(kv_temp_names)
if [ -z "$left" ]; then kv_pass "no temporary name is left"; else kv_fail "no temporary name is left" "$left"; fi
kv_finish
