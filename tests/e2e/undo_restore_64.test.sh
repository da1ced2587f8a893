#!/usr/bin/env bash
# The undo files of a plain run on a 64-bit machine, put back by reg.exe alone:
# one file per wipe pass, each imported into its own view with the command its
# header names, and every hive is again as it was before the run, every key
# and value in both views (apart from the planted link, which is never
# recorded; Wine keeps no key security on disk). With the family's files and
# link planted again, a second run removes the same and prints the same, undo
# file names apart, and records the same: its undo files hold the first run's
# bytes, so they restore alike. Then a run whose undo folder refuses new files
# still removes everything, reports that once per wipe pass and fails; so does
# a run that finds a link in place of its undo folder, and the folder the link
# points at receives nothing.
set -u
. "$KV_HARNESS/prefix.sh"
. "$KV_SOURCE_DIR/tests/e2e/lib.sh"
kv_scenario undo_restore_64
kv_prefix_new win64 || kv_abort "a fresh 64-bit machine"
kv_plant
kv_save_registry planted || kv_abort "the planted registry is saved"

# An undo file (a Windows path) as UTF-8 text with unix line ends.
undo_text() { iconv -f UTF-16 -t UTF-8 "$(kv_unix_path "$1")" | tr -d '\r'; }
# What its header tells to run after "reg import".
header_command() { undo_text "$1" | sed -n 's/^;   reg import //p'; }
# undo_file RUN VIEW: the Windows path of RUN's undo file of the view.
undo_file() { kv_undo_files "$KV_OUT/$1.out" | grep -- "-$2\.reg$"; }

# restore RUN: imports RUN's undo files with reg.exe, the 32-bit one first: where
# both hold a key or value that the views share, the 64-bit pass saw it first.
restore() {
    local file view failed=""
    for view in 32 64; do
        file=$(undo_file "$1" $view)
        [ "$(header_command "$file")" = "\"$file\" /reg:$view" ] || failed+=" $file (its header's command)"
        kv_wine reg import "$file" "/reg:$view" >"$KV_OUT/$1-import-$view.txt" 2>&1 || failed+=" $file"
    done
    kv_check "reg.exe imports the undo files of the $1 run, each with its header's command${failed:+ (failed:$failed)}" \
        [ -z "$failed" ]
}

kv_run first clean
kv_check "the first run exits with 0" [ "$KV_RUN_RC" -eq 0 ]
kv_check "no error report" [ "$(kv_count "$KV_OUT/first.out" 'An error occurred')" -eq 0 ]
kv_expect_passes_in_order "$KV_OUT/first.out" win64
mapfile -t undo < <(kv_lines "$KV_OUT/first.out" '^Undo file: ')
mapfile -t wipes < <(kv_lines "$KV_OUT/first.out" '^Rename: C:\\Program Files( \(x86\))?\\Kor Vane into ')
mapfile -t menu < <(kv_lines "$KV_OUT/first.out" '^Path to Start Menu ')
names=$(kv_undo_files "$KV_OUT/first.out" | sed -E 's/[0-9]{8}-[0-9]{6}/#/' | tr '\n' ' ')
expected_names='C:\ProgramData\kvclean\undo\kvclean-#-64.reg C:\ProgramData\kvclean\undo\kvclean-#-32.reg '
in_passes=""
[ ${#undo[@]} -eq 2 ] && [ ${#wipes[@]} -eq 2 ] && [ ${#menu[@]} -eq 4 ] && [ "$names" = "$expected_names" ] &&
    [ "${wipes[0]}" -lt "${undo[0]}" -a "${undo[0]}" -lt "${menu[2]}" -a "${wipes[1]}" -lt "${undo[1]}" ] && in_passes=yes
kv_check "one undo file line in each wipe pass, the 64-bit view's first ($names)" [ -n "$in_passes" ]
kv_survey after-first
kv_expect_clean after-first "after the first run"

restore first
kv_save_registry restored-first || kv_abort "the restored registry is saved"
kv_expect_same_registry planted restored-first "after the restore the registry is as planted, in both views"

kv_wine "$KV_FOOTPRINT" plant-unrecorded | grep -q ', 0 failed' ||
    kv_fail "what the undo files do not record, files and registry link, is planted again"
kv_run second clean
kv_check "the second run exits with 0" [ "$KV_RUN_RC" -eq 0 ]
kv_expect_same_output first second
# Byte for byte but for their own names, in their headers' commands.
difference=""
for view in 64 32; do
    difference+=$(diff <(undo_text "$(undo_file first $view)" | grep -v '^;   reg import ') \
        <(undo_text "$(undo_file second $view)" | grep -v '^;   reg import ') | head -10)
done
if [ -z "$difference" ]; then
    kv_pass "the second run's undo files hold what the first run's held, so they restore it as well"
else
    kv_fail "the second run's undo files hold what the first run's held" "$difference"
fi
restore second

kv_check "a run whose undo folder refuses files: one report per wipe pass, exit code nonzero" \
    kv_step "$KV_BUILD_DIR/tests/test_e2e.exe" 'WholeProgram.DISABLED_UndoFolderThatRefusesFiles*' unwritable
kv_survey after-unwritable
kv_expect_clean after-unwritable "after that run"

kv_plant
decoy=$(kv_unix_path 'C:\kvdecoy') undo_folder=$(kv_unix_path 'C:\ProgramData\kvclean\undo')
mkdir -p "$decoy" && rm -rf "$undo_folder" && ln -s "$decoy" "$undo_folder" || kv_abort "a link in place of the undo folder"
kv_run linked clean
kv_check "a link in place of the undo folder is not followed: one report per wipe pass, exit code nonzero" \
    [ "$KV_RUN_RC" -ne 0 -a "$(kv_count "$KV_OUT/linked.out" 'An error occurred')" -eq 2 -a \
    "$(kv_count "$KV_OUT/linked.out" ':The undo folder is a link or no folder, not used: C:.ProgramData.kvclean.undo$')" -eq 2 -a \
    -z "$(ls -A "$decoy")" -a -L "$undo_folder" ]
kv_survey after-linked
kv_expect_clean after-linked "after that run"
kv_finish
