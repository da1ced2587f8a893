#!/usr/bin/env bash
# kvclean.exe killed part-way through a wipe pass (as by a closed console
# window or a power cut), at several points, then run again to the end: the
# second run succeeds, nothing of the family is left and every decoy is as it
# was. The program's output reaches its file in blocks, so each kill lands a
# little after the point where it was seen.
set -u
. "$KV_HARNESS/prefix.sh"
. "$KV_SOURCE_DIR/tests/e2e/lib.sh"
kv_scenario interrupted

# Conditions on the output so far (the file comes last).
seen() { grep -qE "$1" "$2"; }
deleted_at_least() { [ "$(kv_count "$2" '^Deleted ')" -ge "$1" ]; }

# interrupt NAME TEXT CONDITION...: a fresh planted machine; kvclean.exe is
# killed as soon as CONDITION (called with the output file) holds; then the
# complete run and the survey.
interrupt() {
    local name=$1 text=$2
    shift 2
    kv_prefix_drop
    kv_prefix_new win64 || kv_abort "a fresh 64-bit machine"
    kv_plant
    local out="$KV_OUT/$name.killed"
    # wine itself, not the kv_wine function: a function in the background runs
    # in a subshell, whose id is not the program's.
    wine "$KV_PROGRAM" clean >"$out" 2>&1 &
    local program=$! waited
    for waited in $(seq 3000); do
        "$@" "$out" && break
        kill -0 "$program" 2>/dev/null || break
        sleep 0.02
    done
    kill -KILL "$program" 2>/dev/null
    wait "$program" 2>/dev/null
    local rc=$?
    kv_check "$name: killed during $text (after $(wc -l <"$out") lines of output)" \
        [ $rc -eq 137 -a "$(kv_count "$out" "$KV_CHANGE_LINES")" -gt 0 ]

    kv_run "$name" clean
    kv_check "$name: the complete run then exits with 0" [ "$KV_RUN_RC" -eq 0 ]
    kv_check "$name: and had work left ($(kv_count "$KV_OUT/$name.out" "$KV_CHANGE_LINES") lines of removal)" \
        [ "$(kv_count "$KV_OUT/$name.out" "$KV_CHANGE_LINES")" -gt 0 ]
    kv_survey "$name"
    kv_expect_clean "$name" "$name"
    # A folder is moved to a temporary name before its content goes (and that
    # name is first reserved as an empty file): killed in between, what is left
    # stays under that name, where no later run looks.
    local left
    left=$(cd "$KV_PREFIX/drive_c" && find . -ipath '*/csp*.tmp*' \( -type d -printf '%P\\\n' -o -printf '%P (%s bytes)\n' \) | sort)
    [ -z "$left" ] || echo "note $name: left under the program's temporary names (not counted by the survey):"$'\n'"$(sed 's/^/       /' <<<"$left")"
}

interrupt 64-bit-folder "the 64-bit wipe pass, its program folder" seen '^Rename: C:\\Program Files\\Kor Vane into '
interrupt 64-bit-registry "the 64-bit wipe pass, its registry plan" deleted_at_least 400
interrupt native-folder "the native wipe pass, its program folder" seen '^Rename: C:\\Program Files \(x86\)\\Kor Vane into '
interrupt native-registry "the native wipe pass, its registry plan" deleted_at_least 1000
kv_finish
