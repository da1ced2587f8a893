#!/usr/bin/env bash
# The registry plan, run whole on a planted machine (the family, its decoys, a
# few hundred unrelated Installer components and the unusual values of
# plan_run_test.cpp), prints byte for byte what it printed before its searches
# were tightened (plan_run.expected.txt), returns the same results and leaves
# the same machine behind (the survey at the end of that file).
set -u
. "$KV_HARNESS/prefix.sh"
kv_prefix_new win64 || exit 1

footprint="$KV_BUILD_DIR/kvfootprint.exe"
kv_wine "$footprint" plant >/dev/null || exit 1
kv_wine "$footprint" plant-heavy 300 200 100 >/dev/null || exit 1
kv_wine "$KV_BUILD_DIR/tests/test_registry.exe" --gtest_color=no --gtest_also_run_disabled_tests \
    --gtest_filter='PlanRunOnAPlantedMachine.DISABLED_*' || exit 1

actual="$KV_BUILD_DIR/plan_run.actual.txt"
{
    cat "$(kv_unix_path 'C:\kvtest-plan-run.txt')"
    echo "== survey"
    kv_wine "$footprint" survey --list | tr -d '\r'
} >"$actual"
diff -u "$(dirname "$0")/plan_run.expected.txt" "$actual" >"$actual.diff" || {
    head -100 "$actual.diff"
    echo "the run printed something else: $actual, whole difference in $actual.diff" >&2
    exit 1
}
