#!/usr/bin/env bash
# kvclean.exe started from a command line with a plain word on a 64-bit machine
# that holds the whole product family and other vendors' decoys: four passes
# (64-bit list and wipe, native list and wipe), nothing of the family left in
# either registry view or either system directory, every decoy as it was,
# exit code 0, and a last line that counts what the machine held. A second run
# then finds nothing and exits 0.
set -u
. "$KV_HARNESS/prefix.sh"
. "$KV_SOURCE_DIR/tests/e2e/lib.sh"
kv_scenario plain_run_64
kv_prefix_new win64 || kv_abort "a fresh 64-bit machine"
kv_plant
planted=$(kv_family_counts)

kv_run first clean
kv_check "the first run exits with 0" [ "$KV_RUN_RC" -eq 0 ]
kv_check "nothing is printed to standard error" [ ! -s "$KV_OUT/first.err" ]
kv_check "no error report" [ "$(kv_count "$KV_OUT/first.out" 'An error occurred')" -eq 0 ]
kv_expect_passes_in_order "$KV_OUT/first.out" win64
kv_check "its last line counts what the machine held $planted" \
    [ "$(kv_last_line "$KV_OUT/first.out")" = "kvclean: removed ${planted:1:-1}; 0 deferred to the next reboot; 0 failures" ]
kv_survey after-first
kv_expect_clean after-first "after the first run"
kv_check "the private-key settings stay in both views" \
    [ "$(kv_survey_line after-first 'Private-key settings')" = 'Private-key settings:     64-bit view kept, 32-bit view kept' ]
kv_check "nothing waits for a reboot" [ "$(kv_survey_line after-first 'Scheduled')" = 'Scheduled for the next reboot: 0' ]

kv_run second clean
kv_check "the second run exits with 0" [ "$KV_RUN_RC" -eq 0 ]
kv_expect_nothing_found "$KV_OUT/second.out" 4
kv_check "its last line says it removed nothing" \
    [ "$(kv_last_line "$KV_OUT/second.out")" = "kvclean: removed 0 registry keys, 0 values, 0 list entries, 0 files and folders; 0 deferred to the next reboot; 0 failures" ]
kv_survey after-second
kv_expect_clean after-second "after the second run"
kv_finish
