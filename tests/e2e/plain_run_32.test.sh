#!/usr/bin/env bash
# kvclean.exe on a 32-bit machine (no WOW64): exactly two passes, a list pass
# and a wipe pass in the one registry view, nothing of the family left, every
# decoy as it was, exit code 0, and a last line that counts what the machine
# held, as kvscan had counted it before.
set -u
. "$KV_HARNESS/prefix.sh"
. "$KV_SOURCE_DIR/tests/e2e/lib.sh"
kv_scenario plain_run_32
kv_prefix_new win32 || kv_abort "a fresh 32-bit machine"
kv_plant
planted=$(kv_family_counts)
kv_scan scan
kv_check "kvscan finds what the machine holds, in its one view, and exits with 1: $(kv_last_line "$KV_OUT/scan.out")" \
    [ "$KV_SCAN_RC" -eq 1 -a "$(kv_last_line "$KV_OUT/scan.out")" = "$(kv_found_line "$planted")" ]

start=$(date +%s)
kv_run first clean
kv_check "the run exits with 0 (took $(($(date +%s) - start)) s)" [ "$KV_RUN_RC" -eq 0 ]
kv_check "no error report" [ "$(kv_count "$KV_OUT/first.out" 'An error occurred')" -eq 0 ]
kv_expect_passes_in_order "$KV_OUT/first.out" win32
kv_check "its last line counts what the machine held $planted" \
    [ "$(kv_last_line "$KV_OUT/first.out")" = "kvclean: removed ${planted:1:-1}; 0 deferred to the next reboot; 0 failures" ]
kv_survey after
kv_expect_clean after "after the run"
kv_check "the private-key settings stay" \
    [ "$(kv_survey_line after 'Private-key settings')" = 'Private-key settings:     native view kept' ]
kv_finish
