#!/usr/bin/env bash
# Two of the family's modules are loaded by another process while kvclean.exe
# runs (the provider in its program folder, the TLS package in the system
# directory), and a tool of the program folder is held open without leave to
# delete it. The first run leaves that tool and its folders under their own
# names and says so; once it is let go, an administrator runs the cleanup
# again before any reboot. That run succeeds: both modules have left their
# paths and are registered for deletion at the next reboot, with the folders
# that hold them, wherever the first run had put them; its last line counts
# the three deletions that it registered, and kvscan finds nothing left but
# the four deletions that wait (exit 3); after a restart of the machine
# nothing of them is left under any name, and kvscan finds no trace (exit 0).
set -u
. "$KV_HARNESS/prefix.sh"
. "$KV_SOURCE_DIR/tests/e2e/lib.sh"
kv_scenario locked_file
kv_prefix_new win64 || kv_abort "a fresh 64-bit machine"
kv_plant

ready=$(kv_unix_path 'C:\kve2e\holder.ready')
release=$(kv_unix_path 'C:\kve2e\holder.release')
unlock=$(kv_unix_path 'C:\kve2e\holder.unlock')
unlocked=$(kv_unix_path 'C:\kve2e\holder.unlocked')
kv_step "$KV_BUILD_DIR/tests/test_e2e.exe" 'FamilyModuleHolder.DISABLED_HoldUntilReleased' holder &
holder=$!
for _ in $(seq 600); do [ -e "$ready" ] && break; sleep 0.1; done
[ -e "$ready" ] || kv_abort "the other process holds the modules" "$(cat "$KV_OUT/holder.out" 2>/dev/null)"

kv_run first clean
out="$KV_OUT/first.out"
kv_check "the first run fails on the tool held open" [ "$KV_RUN_RC" -ne 0 ]
kv_check "and leaves its folder under its own name" [ -d "$(kv_unix_path 'C:\Program Files (x86)\Kor Vane\Tools')" ]
# The native pass names the 32-bit system directory by its own path.
system_module='C:\windows\syswow64\kvssl.dll'
kv_check "the held system module could not be deleted, and is marked for deletion at reboot" \
    [ "$(grep -cxF -e "File: $system_module couldn't be deleted." -e "File: $system_module success mark delete at reboot." "$out")" -eq 2 ]
moved_provider='C:\\Program Files \(x86\)\\csp[0-9a-fA-F]+\.tmp\\csp[0-9a-fA-F]+\.tmp\\kvcsp\.dll'
kv_check "the held provider (in its folder, already moved aside) too" \
    [ "$(kv_count "$out" "^File: $moved_provider (couldn't be deleted|success mark delete at reboot)\.$")" -eq 2 ]

touch "$unlock"
for _ in $(seq 600); do [ -e "$unlocked" ] && break; sleep 0.1; done
kv_run second clean
out="$KV_OUT/second.out"
kv_check "the second run exits with 0" [ "$KV_RUN_RC" -eq 0 ]
kv_check "no error report" [ "$(kv_count "$out" 'An error occurred')" -eq 0 ]
kv_check "the two folders that still hold the provider wait for the reboot" \
    [ "$(kv_count "$out" '^Marked to delete on reboot dir: C:\\Program Files \(x86\)\\csp')" -eq 2 ]
left=$(kv_family_counts)
kv_check "nothing of the family is left at its places: $left" \
    [ "$left" = "(0 registry keys, 0 values, 0 list entries, 0 files and folders)" ]
kv_check "the last line counts the three deletions it registered" \
    grep -q '; 3 deferred to the next reboot; 0 failures$' <<<"$(kv_last_line "$out")"
kv_scan waiting
kv_check "kvscan then finds nothing left but four deletions waiting, the module the first run deferred among them" \
    [ "$KV_SCAN_RC" -eq 3 -a "$(kv_last_line "$KV_OUT/waiting.out")" = 'kvscan: nothing left to remove; 4 deletions wait for the next reboot' \
    -a "$(kv_count "$KV_OUT/waiting.out" '^Deletion waits for the next reboot: C:\\windows\\syswow64\\csp')" -eq 1 ]

kv_survey running
kv_expect_clean running "while the modules are still loaded"
temps=$(kv_temp_names)
kv_check "what waits lies under temporary names beside the original places" \
    [ "$(grep -c '^windows/syswow64/csp[^/]*$\|^Program Files (x86)/csp' <<<"$temps")" -eq "$(grep -c . <<<"$temps")" -a -n "$temps" ]

touch "$release"
wait "$holder"
kv_check "the other process held the modules to the end" [ $? -eq 0 ]
rm -f "$ready" "$release" "$unlock" "$unlocked"

kv_prefix_reboot
kv_survey rebooted
kv_expect_clean rebooted "after the restart" restarted
kv_check "nothing waits for a reboot any more" \
    [ "$(kv_survey_line rebooted 'Scheduled')" = 'Scheduled for the next reboot: 0' ]
left=$(kv_temp_names)
if [ -z "$left" ]; then kv_pass "no temporary name is left"; else kv_fail "no temporary name is left" "$left"; fi
kv_scan restarted
kv_check "kvscan finds no trace after the restart either" [ "$KV_SCAN_RC" -eq 0 ]
kv_finish
