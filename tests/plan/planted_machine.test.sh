#!/usr/bin/env bash
# Both plans through their runners on a planted 64-bit machine: a list pass and
# a wipe pass in the 64-bit view (redirection off), then in the native view,
# remove every item of the family in both views and leave every decoy as it
# was (keys, values, security and files, as the footprint survey compares
# them); a second list pass in both views then finds nothing.
set -u
. "$KV_HARNESS/prefix.sh"
. "$KV_SOURCE_DIR/tests/e2e/lib.sh"
kv_scenario planted_machine
kv_prefix_new win64 || kv_abort "a fresh 64-bit machine"
kv_plant
steps="$KV_BUILD_DIR/tests/test_plan.exe"

kv_step "$steps" 'PlantedMachine.DISABLED_ListAndWipePassesInBothViewsRemoveTheFamily' passes
kv_check "list and wipe passes in the 64-bit view, then the native view, report no failure" [ $? -eq 0 ]
kv_survey after
kv_expect_clean after "after the passes"
kv_check "the private-key settings stay in both views" \
    [ "$(kv_survey_line after 'Private-key settings')" = 'Private-key settings:     64-bit view kept, 32-bit view kept' ]

kv_step "$steps" 'PlantedMachine.DISABLED_ASecondListPassInBothViewsFindsNothing' second
kv_check "a second list pass in both views, warning of any find, reports nothing" [ $? -eq 0 ]
kv_expect_nothing_found "$KV_OUT/second.out" 2
kv_finish
