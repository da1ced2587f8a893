#!/usr/bin/env bash
# The program's answers-driven runs on a planted 64-bit machine, each run whole
# in the test's process (entry point and install command as in kvclean.exe)
# with the dialogs answered through the platform table:
#  - a plain word: no dialog and no reboot prompt, although a reboot is needed;
#  - "-delkeys" answered Yes, No: the private-key settings stay;
#  - "-delkeys" answered Yes, Yes, Yes: "SOFTWARE\Kor Vane\Settings" goes, in
#    the native view (the 32-bit one here) only;
#  - no arguments answered Yes: the reboot prompt is shown once, and its Yes
#    reaches ExitWindowsEx (recorded, not performed).
# Every run leaves nothing of the family and every decoy as it was.
set -u
. "$KV_HARNESS/prefix.sh"
. "$KV_SOURCE_DIR/tests/e2e/lib.sh"
kv_scenario dialogs
kv_prefix_new win64 || kv_abort "a fresh 64-bit machine"
steps="$KV_BUILD_DIR/tests/test_e2e.exe"

# run_step NAME TEST: plants the machine again, runs the step, surveys.
run_step() {
    kv_plant
    kv_step "$steps" "WholeProgram.DISABLED_$2" "$1"
    local rc=$?
    if [ $rc -eq 0 ]; then
        kv_pass "$1: $2"
    else
        kv_fail "$1: $2" "$(grep -B2 -A12 'Failure\|FAILED' "$KV_OUT/$1.out" | head -40)"
    fi
    kv_survey "$1"
    kv_expect_clean "$1" "$1"
}

settings() { kv_survey_line "$1" 'Private-key settings'; }

run_step plain PlainVectorNeverOffersTheReboot
kv_check "plain: the private-key settings stay in both views" \
    [ "$(settings plain)" = 'Private-key settings:     64-bit view kept, 32-bit view kept' ]

run_step keys-no KeyRequestAnsweredYesThenNoKeepsTheKeySettings
kv_check "keys-no: the private-key settings stay in both views" \
    [ "$(settings keys-no)" = 'Private-key settings:     64-bit view kept, 32-bit view kept' ]

run_step keys-yes KeyRequestAnsweredYesRemovesTheKeySettingsInTheNativeView
kv_check "keys-yes: the private-key settings are gone from the native (32-bit) view, not from the 64-bit one" \
    [ "$(settings keys-yes)" = 'Private-key settings:     64-bit view kept, 32-bit view removed' ]

run_step window WindowVectorOffersTheRebootOnceAndYesRequestsIt
kv_finish
