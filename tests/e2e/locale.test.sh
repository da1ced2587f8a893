#!/usr/bin/env bash
# The program's output under the code pages its users have. Russian (ANSI
# code page 1251, console code page 866): the Start Menu folder "Кор-Ване" and
# what is in it are printed whole, into a file by a whole run, and into a
# console by the program as started with one wipe pass of its file plan (the
# pass that prints those names: a whole run prints some 15,000 lines, which
# Wine's console takes half a minute to show), line for line as into the file.
# English (code page 1252, which has no Cyrillic): those names cannot be shown,
# but no line is lost: the output has every line of the Russian one, in order.
set -u
. "$KV_HARNESS/prefix.sh"
. "$KV_SOURCE_DIR/tests/e2e/lib.sh"
kv_scenario locale
command -v script >/dev/null || kv_abort "script (util-linux) runs the program on a terminal"

# The Cyrillic lines a run on a planted machine prints, given its output.
expected_lines() {
    local menu
    menu=$(sed -n 's/^Path to Start Menu //p' "$1" | head -1)
    printf '%s\n' "Removing $menu\\Programs\\Кор-Ване"
}

# Without the console's drawing: cursor moves as blanks, no other escapes, unix line ends.
plain_console() { perl -pe 's/\e\[(\d*)C/" " x ($1 || 1)/ge; s/\e\[[0-9;?]*[A-Za-z]//g; s/\r//g' "$1"; }

# check_cyrillic NAME FILE PASSES: FILE is the output as UTF-8 text of PASSES passes.
check_cyrillic() {
    local name=$1 file=$2 passes=$3 removing
    removing=$(expected_lines "$file")
    kv_check "$name: \"$removing\" is printed whole, once a pass ($passes)" [ "$(grep -cxF "$removing" "$file")" -eq "$passes" ]
    kv_check "$name: its move aside is printed whole" \
        [ "$(grep -F "Rename: ${removing#Removing } into " "$file" | grep -c '^Rename: ')" -eq 1 ]
    kv_check "$name: the link in it is printed whole" [ "$(grep -cE '\\Сертификаты\.lnk$' "$file")" -eq 1 ]
}

# Each whole run on a machine of its own, planted alike.
fresh_machine() {
    kv_prefix_drop
    kv_prefix_new win64 || kv_abort "a fresh 64-bit machine"
    kv_plant
}

# The lines of standard input that hold a Cyrillic letter.
cyrillic_lines() { perl -CSD -ne 'print if /\p{Cyrillic}/'; }

# Russian, into a file: the runtime's locale turns the text into code page 1251.
fresh_machine
LC_ALL=ru_RU.UTF-8 kv_run ru-file clean
kv_check "ru-file: the run exits with 0" [ "$KV_RUN_RC" -eq 0 ]
iconv -f cp1251 -t utf-8 "$KV_OUT/ru-file.out" >"$KV_OUT/ru-file.utf8" ||
    kv_fail "ru-file: the output is code page 1251 text"
check_cyrillic ru-file "$KV_OUT/ru-file.utf8" 4
kv_survey ru-file
kv_expect_clean ru-file ru-file

# Russian, on a console: the terminal shows what the console holds. The files
# are planted again on the cleaned machine.
kv_wine "$KV_FOOTPRINT" plant-unrecorded | grep -q ', 0 failed' || kv_abort "ru-console: the family's files are planted again"
LC_ALL=ru_RU.UTF-8 script -qec "stty cols 1000; wine cmd /c chcp; wine '$KV_BUILD_DIR/tests/test_e2e.exe' \
--gtest_color=no --gtest_also_run_disabled_tests --gtest_filter=WholeProgram.DISABLED_FilePlanPrintsToTheConsole" \
    "$KV_OUT/ru-console.tty" >/dev/null 2>&1
plain_console "$KV_OUT/ru-console.tty" >"$KV_OUT/ru-console.out"
kv_check "ru-console: the console's code page is 866" grep -q ': 866' "$KV_OUT/ru-console.out"
kv_check "ru-console: the pass succeeds" grep -q '^\[  PASSED  \] 1 test' "$KV_OUT/ru-console.out"
check_cyrillic ru-console "$KV_OUT/ru-console.out" 1
kv_comparable_output "$KV_OUT/ru-file.utf8" >"$KV_OUT/ru-file.comparable"
# What the pass printed: the lines between the test runner's own.
sed -n '/^\[ RUN /,/^\[ *OK \]/p' "$KV_OUT/ru-console.out" | sed '1d;$d' | kv_comparable_output /dev/stdin \
    >"$KV_OUT/ru-console.pass"
missing=$(grep -vxFf "$KV_OUT/ru-file.comparable" "$KV_OUT/ru-console.pass")
kv_check "ru-console: each of the pass's $(wc -l <"$KV_OUT/ru-console.pass") lines ($(cyrillic_lines <"$KV_OUT/ru-console.pass" | wc -l) with Cyrillic letters) is a line of the run printed into a file" \
    [ -z "$missing" -a "$(cyrillic_lines <"$KV_OUT/ru-console.pass" | wc -l)" -ge 3 ]

# English, into a file.
fresh_machine
LC_ALL=en_US.UTF-8 kv_run en-file clean
kv_check "en-file: the run exits with 0" [ "$KV_RUN_RC" -eq 0 ]
kv_survey en-file
kv_expect_clean en-file en-file
# What code page 1252 cannot show is left out (the rest of that name with it).
without_cyrillic() { kv_comparable_output "$1" | perl -CSD -pe 's/\p{Cyrillic}\S*//g'; }
without_cyrillic "$KV_OUT/ru-file.utf8" >"$KV_OUT/ru-file.without-cyrillic"
without_cyrillic "$KV_OUT/en-file.out" >"$KV_OUT/en-file.without-cyrillic"
kv_check "en-file: as many lines as the Russian output ($(wc -l <"$KV_OUT/ru-file.out"))" \
    [ "$(wc -l <"$KV_OUT/en-file.out")" -eq "$(wc -l <"$KV_OUT/ru-file.out")" ]
difference=$(diff "$KV_OUT/ru-file.without-cyrillic" "$KV_OUT/en-file.without-cyrillic" | head -20)
if [ -z "$difference" ]; then
    kv_pass "en-file: every line as in the Russian output, but for the Cyrillic names"
else
    kv_fail "en-file: every line as in the Russian output, but for the Cyrillic names" "$difference"
fi
menu_line=$(grep -n -m1 -xF "$(expected_lines "$KV_OUT/en-file.out" | sed 's/Кор-Ване$//')" "$KV_OUT/en-file.out" | cut -d: -f1)
kv_check "en-file: the line of \"Кор-Ване\" ends where the name would start, and the next one follows on a line of its own" \
    [ -n "$menu_line" ] && [ "$(sed -n "$((menu_line + 1))p" "$KV_OUT/en-file.out" | cut -c1-9)" = 'Find file' ]
kv_finish
