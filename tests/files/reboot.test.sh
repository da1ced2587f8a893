#!/usr/bin/env bash
# Files in use are moved aside and scheduled; a restart of the prefix's Windows
# then deletes them. One module is held by another process, one by the wiping
# process itself.
set -u
. "$KV_HARNESS/prefix.sh"
kv_prefix_new win64 || exit 1

tests="$KV_BUILD_DIR/tests/test_files.exe"
step() { kv_wine "$tests" --gtest_color=no --gtest_also_run_disabled_tests --gtest_filter="$1"; }

step 'RebootScenario.DISABLED_HoldModuleUntilReleased' &
holder=$!
ready=$(kv_unix_path 'C:\kvreboot\holder.ready')
for _ in $(seq 600); do [ -e "$ready" ] && break; sleep 0.1; done
[ -e "$ready" ] || { echo "the holding process did not start" >&2; exit 1; }

step 'RebootScenario.DISABLED_InUseItemsAreMovedAsideAndScheduled'
moved=$?
touch "$(kv_unix_path 'C:\kvreboot\holder.release')"
wait "$holder"
held=$?
rm -f "$ready" "$(kv_unix_path 'C:\kvreboot\holder.release')"
[ "$moved" -eq 0 ] && [ "$held" -eq 0 ] || exit 1

kv_prefix_reboot
step 'RebootScenario.DISABLED_AfterRestartNothingIsLeft'
