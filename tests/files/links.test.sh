#!/usr/bin/env bash
# A link inside a folder being wiped (and a given path that is a link, and a
# module that is a link to a file) is never followed: what it points at keeps
# its files, also after the restart that performs the scheduled deletions.
set -u
. "$KV_HARNESS/prefix.sh"
kv_prefix_new win64 || exit 1

root=$(kv_unix_path 'C:\kvlinks')
mkdir -p "$root/Kor Vane/sub" "$root/decoy/nested"
printf 'own' > "$root/Kor Vane/own.dll"
printf 'x' > "$root/Kor Vane/sub/x.dll"
printf 'keep' > "$root/decoy/keep.dll"
printf 'keep too' > "$root/decoy/nested/keep2.dll"
ln -s "$root/decoy" "$root/Kor Vane/sub/decoylink"
ln -s "$root/decoy" "$root/toplink"
mkdir -p "$root/victim" "$root/emptydecoy"
printf 'important' > "$root/victim/important.ini"
printf 'victim' > "$root/victim.dll"
ln -s "$root/victim/important.ini" "$root/Kor Vane/cfg.ini"
ln -s "$root/emptydecoy" "$root/Kor Vane/emptylink"
ln -s "$root/victim.dll" "$root/kvssl.dll"

tests="$KV_BUILD_DIR/tests/test_files.exe"
step() { kv_wine "$tests" --gtest_color=no --gtest_also_run_disabled_tests --gtest_filter="$1"; }

step 'LinkScenario.DISABLED_WipeRemovesNothingBehindALink' || exit 1
kv_prefix_reboot
step 'LinkScenario.DISABLED_AfterRestartTheDecoyIsStillWhole' || exit 1
[ "$(cat "$root/decoy/keep.dll")" = keep ] && [ "$(cat "$root/decoy/nested/keep2.dll")" = 'keep too' ]
