#!/usr/bin/env bash
# The undo file of a plain run on a 32-bit machine: one wipe pass, one file,
# put back by reg.exe alone, and every hive is again as it was before the run
# (apart from the planted link, which is never recorded). With
# the family's files and link planted again, a second run prints what the first
# printed, the undo file's name apart.
set -u
. "$KV_HARNESS/prefix.sh"
. "$KV_SOURCE_DIR/tests/e2e/lib.sh"
kv_scenario undo_restore_32
kv_prefix_new win32 || kv_abort "a fresh 32-bit machine"
kv_plant
kv_save_registry planted || kv_abort "the planted registry is saved"

kv_run first clean
kv_check "the first run exits with 0" [ "$KV_RUN_RC" -eq 0 ]
kv_check "no error report" [ "$(kv_count "$KV_OUT/first.out" 'An error occurred')" -eq 0 ]
names=$(kv_undo_files "$KV_OUT/first.out" | sed -E 's/[0-9]{8}-[0-9]{6}/#/')
kv_check "one undo file, of the 32-bit view ($names)" [ "$names" = 'C:\ProgramData\kvclean\undo\kvclean-#-32.reg' ]
kv_survey after-first
kv_expect_clean after-first "after the first run"

kv_check "reg.exe imports the undo file" kv_wine reg import "$(kv_undo_files "$KV_OUT/first.out")" /reg:32
kv_save_registry restored || kv_abort "the restored registry is saved"
kv_expect_same_registry planted restored "after the restore the registry is as planted"

kv_wine "$KV_FOOTPRINT" plant-unrecorded | grep -q ', 0 failed' ||
    kv_fail "what the undo files do not record, files and registry link, is planted again"
kv_run second clean
kv_check "the second run exits with 0" [ "$KV_RUN_RC" -eq 0 ]
kv_expect_same_output first second
kv_finish
