# Helpers of the scenarios that run the whole program on a planted machine.
# Sourced after the harness's prefix.sh:
#
#   kv_scenario NAME            starts the tally; outputs go to $KV_OUT (kept for reading after a failure)
#   kv_check TEXT COMMAND...    one check: "ok  TEXT" or "FAIL TEXT"
#   kv_fail TEXT [DETAIL]       a failed check with what was seen
#   kv_finish                   prints the summary; exits 1 when any check failed
#   kv_plant                    plants the product family and the decoys (kvfootprint plant)
#   kv_survey NAME              kvfootprint survey --list into $KV_OUT/NAME.survey; sets KV_SURVEY_RC
#   kv_expect_clean NAME TEXT [restarted]   a survey: nothing of the family left, every decoy unchanged
#   kv_run NAME ARGS...         kvclean.exe ARGS; stdout into $KV_OUT/NAME.out (line ends made unix ones),
#                               stderr into NAME.err; sets KV_RUN_RC
#   kv_step EXE FILTER NAME     runs disabled GoogleTest steps of EXE, output into NAME.out; fails when none ran
#   kv_expect_nothing_found FILE PASSES   list (and wipe) passes that found nothing at all
#   kv_temp_names               the program's temporary names ("csp*.tmp") left anywhere on drive C
#   kv_expect_passes_in_order FILE win64|win32   a plain run's passes, told apart in its output
#   kv_scan NAME ARGS...        kvscan.exe ARGS, as kv_run; sets KV_SCAN_RC
#   kv_family_counts            what of the family the machine holds, by kind, as the programs count it:
#                               "(K registry keys, V values, L list entries, F files and folders)"
#   kv_found_line COUNTS        kvscan's last line for what kv_family_counts printed
#   kv_last_line FILE           the last line of FILE
#   kv_machine_state NAME       the whole machine into $KV_OUT/NAME.state: the registry (kv_save_registry),
#                               and every file and folder of drive C with its type, mode, size, time of
#                               last change and link target (a file written, even with the same bytes, shows)
#   kv_save_registry NAME       HKLM and HKU as Wine's server saves them, into $KV_OUT/NAME.HKLM.reg, .HKU.reg
#   kv_expect_same_registry BEFORE AFTER TEXT   two such registries hold the same, the planted links apart
#   kv_comparable_output FILE   a run's output without what differs from run to run by design
#   kv_undo_files FILE          the undo files a run's output names, one Windows path a line
#   kv_expect_same_output FIRST SECOND   two runs printed the same, but for what kv_comparable_output drops

KV_FOOTPRINT="$KV_BUILD_DIR/kvfootprint.exe"
KV_PROGRAM=${KV_PROGRAM:-$KV_BUILD_DIR/kvclean.exe}
KV_SCANNER=${KV_SCANNER:-$KV_BUILD_DIR/kvscan.exe}
KV_CHECKS=0
KV_FAILED=0
KV_SCENARIO=""
KV_OUT=""

# The family's modules and drivers in the system directory, as every pass
# probes them: after a cleanup each is reported missing once per pass.
KV_SYSTEM_FILES=(kvcng.dll kvdrvlib.sys kvssl.dll kvtls.dll kvSSPAP.dll kvocsp.dll kvssp.dll 'advapi32.$$$'
    KVanDspr.dll KVanDs64.dll 'drivers\kvdrvlib.sys' 'drivers\kvksp.sys' 'drivers\KVanCtrl.sys'
    'drivers\KVanCt2k.sys' 'drivers\kvefs.sys' 'drivers\kvdrv30.sys' 'drivers\kvdrv36.sys')
# The system value that the revocation repair shows in every pass, found or not.
KV_REVOCATION_KEY_LINE='Key: SOFTWARE\Microsoft\Cryptography\OID\EncodingType 1\CertDllVerifyRevocation\DEFAULT'
# Lines that only a find or a change prints.
KV_FOUND_LINES='^(Key: |ValName: |Find file: |Delete file: |Deleted |Rename: |Right changed |Access denied)|\^\^\^ |^    found: |NewValue: |Marked to delete|couldn.t be deleted|An error occurred|Redundant data found'

kv_scenario() {
    KV_SCENARIO=$1
    KV_OUT="$KV_BUILD_DIR/e2e-output/$1"
    rm -rf "$KV_OUT"
    mkdir -p "$KV_OUT"
    echo "== $1 (outputs in $KV_OUT)"
}

kv_fail() {
    KV_CHECKS=$((KV_CHECKS + 1))
    KV_FAILED=$((KV_FAILED + 1))
    echo "FAIL $1"
    [ -n "${2:-}" ] && printf '%s\n' "$2" | head -40 | sed 's/^/       /'
    return 0
}

kv_pass() {
    KV_CHECKS=$((KV_CHECKS + 1))
    echo "ok   $1"
}

kv_check() {
    local text=$1
    shift
    if "$@"; then kv_pass "$text"; else kv_fail "$text"; fi
}

kv_finish() {
    echo "== $KV_SCENARIO: $KV_CHECKS checks, $KV_FAILED failed"
    [ "$KV_FAILED" -eq 0 ]
    exit
}

# Stops the scenario at once: what follows would only fail for the same cause.
kv_abort() {
    kv_fail "$1" "${2:-}"
    kv_finish
}

kv_plant() {
    local out
    out=$(kv_wine "$KV_FOOTPRINT" plant 2>&1 | tr -d '\r')
    grep -q ', 0 failed$' <<<"$out" || kv_abort "the product family is planted" "$out"
}

kv_survey() {
    kv_wine "$KV_FOOTPRINT" survey --list >"$KV_OUT/$1.survey" 2>&1
    KV_SURVEY_RC=$?
    tr -d '\r' <"$KV_OUT/$1.survey" >"$KV_OUT/$1.survey.tmp" && mv "$KV_OUT/$1.survey.tmp" "$KV_OUT/$1.survey"
}

# A line of a survey, e.g. kv_survey_line NAME 'Private-key settings'.
kv_survey_line() { grep -m1 "^$2" "$KV_OUT/$1.survey"; }

# The decoy that kvfootprint locks down (owner SYSTEM, a DACL of its own):
# Wine keeps no key security across a restart, so after one its security
# differs although nothing touched it.
KV_LOCKED_DOWN_DECOY='SYSTEM\CurrentControlSet\Control\Cryptography\Providers\Contoso Key Storage Provider'

# kv_expect_clean NAME TEXT [restarted]
kv_expect_clean() {
    local survey="$KV_OUT/$1.survey" restarted=${3:-}
    if grep -q '^  left\|^  registry.* [1-9][0-9]* of\|^  files.* [1-9][0-9]* of\|listed$\|first$' "$survey" ||
        [ $((KV_SURVEY_RC & 1)) -ne 0 ]; then
        kv_fail "$2: nothing of the family is left" "$(grep ' of \|LSA\|revocation' "$survey"; grep -m10 '^  left' "$survey")"
    else
        kv_pass "$2: nothing of the family is left ($(grep -c ' 0 of ' "$survey") places surveyed)"
    fi
    local decoys changed ignored=0 note=""
    decoys=$(kv_survey_line "$1" 'Decoys unchanged')
    changed=$(grep '^  decoy changed' "$survey")
    if [ -n "$restarted" ]; then
        ignored=$(grep -cF "): $KV_LOCKED_DOWN_DECOY : " <<<"$changed")
        changed=$(grep -vF "): $KV_LOCKED_DOWN_DECOY : " <<<"$changed")
        note=" (but for the locked-down one's security, which a restart does not keep)"
    fi
    # A changed LSA package list counts without a line of its own.
    if ! [[ $decoys =~ ([0-9]+)\ of\ ([0-9]+)$ ]] || [ $((BASH_REMATCH[1] + ignored)) -ne "${BASH_REMATCH[2]}" ]; then
        changed+=$'\n'"$decoys"
    fi
    if [ -z "$changed" ]; then
        kv_pass "$2: every decoy unchanged$note: $decoys"
    else
        kv_fail "$2: every decoy unchanged$note" "$changed"
    fi
}

kv_run() {
    local name=$1
    shift
    kv_wine "$KV_PROGRAM" "$@" >"$KV_OUT/$name.raw" 2>"$KV_OUT/$name.err"
    KV_RUN_RC=$?
    tr -d '\r' <"$KV_OUT/$name.raw" >"$KV_OUT/$name.out"
}

kv_step() {
    local exe=$1 filter=$2 name=$3
    kv_wine "$exe" --gtest_color=no --gtest_also_run_disabled_tests "--gtest_filter=$filter" >"$KV_OUT/$name.raw" 2>&1
    local rc=$?
    tr -d '\r' <"$KV_OUT/$name.raw" >"$KV_OUT/$name.out"
    # A filter that matches nothing would pass without proving anything.
    grep -q '^\[==========\] Running [1-9]' "$KV_OUT/$name.out" || return 1
    return $rc
}

# Numbers of the lines of FILE that match the extended pattern.
kv_lines() { grep -nE "$2" "$1" | cut -d: -f1; }

kv_count() {
    local n
    n=$(grep -cE "$2" "$1")
    echo "${n:-0}"
}

kv_expect_nothing_found() {
    local file=$1 passes=$2 found name missing=""
    kv_check "$passes passes ran (one Start Menu line each)" [ "$(kv_count "$file" '^Path to Start Menu ')" -eq "$passes" ]
    found=$(grep -E "$KV_FOUND_LINES" "$file" | grep -vxF "$KV_REVOCATION_KEY_LINE")
    if [ -z "$found" ]; then
        kv_pass "no pass found or changed anything (no key, value, file, deletion or report line)"
    else
        kv_fail "no pass found or changed anything" "$found"
    fi
    # The 64-bit passes name System32, the native ones on a 64-bit machine SysWOW64.
    for name in "${KV_SYSTEM_FILES[@]}"; do
        [ "$(grep -cxF -e "File not exist: C:\\windows\\system32\\$name" \
            -e "File not exist: C:\\windows\\syswow64\\$name" "$file")" -eq "$passes" ] || missing+=" $name"
    done
    if [ -z "$missing" ]; then
        kv_pass "every pass reports the ${#KV_SYSTEM_FILES[@]} system modules and drivers missing"
    else
        kv_fail "every pass reports the system modules and drivers missing" "not $passes times:$missing"
    fi
}

kv_temp_names() { find "$KV_PREFIX/drive_c" -iname 'csp*.tmp' -printf '%P\n' | sort; }

# The passes of a plain run, told apart in its output: each pass prints one
# Start Menu line in its file plan and one line for the registry plan's first
# key; a wipe pass starts by moving the family's program folder aside (the
# 64-bit one or the native one), while a list pass changes nothing.
KV_CHANGE_LINES='^(Deleted |Delete file: |Rename: |Right changed )|Marked to delete'
KV_FIRST_PLAN_KEY='^Key( not exist)?: SYSTEM\\CurrentControlSet\\Control\\Session Manager\\KVanIntegrity$'

# Lines FIRST..LAST of FILE.
kv_slice() { sed -n "$2,$3p" "$1"; }

kv_expect_pass() {
    local file=$1 first=$2 last=$3 label=$4 mode=$5
    shift 5
    local slice changes line missing=""
    slice=$(kv_slice "$file" "$first" "$last")
    changes=$(grep -cE "$KV_CHANGE_LINES" <<<"$slice")
    if [ "$mode" = list ]; then
        kv_check "$label: a list pass, it changes nothing" [ "$changes" -eq 0 ]
    else
        kv_check "$label: a wipe pass ($changes lines of removal)" [ "$changes" -gt 0 ]
    fi
    for line in "$@"; do grep -qxF "$line" <<<"$slice" || missing+="$line"$'\n'; done
    if [ -z "$missing" ]; then kv_pass "$label: shows what it should of this view"; else kv_fail "$label: shows" "$missing"; fi
}

# kv_expect_passes_in_order FILE win64|win32
kv_expect_passes_in_order() {
    local file=$1 arch=$2
    local -a menu plan moved64 movedNative
    mapfile -t menu < <(kv_lines "$file" '^Path to Start Menu ')
    mapfile -t plan < <(kv_lines "$file" "$KV_FIRST_PLAN_KEY")
    local end
    end=$(wc -l <"$file")
    if [ "$arch" = win32 ]; then
        mapfile -t movedNative < <(kv_lines "$file" '^Rename: C:\\Program Files\\Kor Vane into ')
        if [ ${#menu[@]} -ne 2 ] || [ ${#plan[@]} -ne 2 ] || [ ${#movedNative[@]} -ne 1 ]; then
            kv_fail "exactly two passes" "Start Menu lines: ${#menu[@]}, registry plan starts: ${#plan[@]}, program folder moves: ${#movedNative[@]}"
            return
        fi
        local w=${movedNative[0]}
        kv_check "exactly two passes, in order: list, wipe" \
            [ "${menu[0]}" -lt "${plan[0]}" -a "${plan[0]}" -lt "$w" -a "$w" -lt "${menu[1]}" -a "${menu[1]}" -lt "${plan[1]}" ]
        kv_expect_pass "$file" 1 $((w - 1)) "pass 1" list 'Key: SOFTWARE\Kor Vane\Cryptography' \
            'Key: SYSTEM\CurrentControlSet\Services\kvrmcsp'
        kv_expect_pass "$file" "$w" "$end" "pass 2" wipe 'Deleted SOFTWARE\Kor Vane\Cryptography' \
            'Deleted SYSTEM\CurrentControlSet\Services\kvrmcsp'
        return
    fi
    mapfile -t moved64 < <(kv_lines "$file" '^Rename: C:\\Program Files\\Kor Vane into ')
    mapfile -t movedNative < <(kv_lines "$file" '^Rename: C:\\Program Files \(x86\)\\Kor Vane into ')
    if [ ${#menu[@]} -ne 4 ] || [ ${#plan[@]} -ne 4 ] || [ ${#moved64[@]} -ne 1 ] || [ ${#movedNative[@]} -ne 1 ]; then
        kv_fail "exactly four passes" "Start Menu lines: ${#menu[@]}, registry plan starts: ${#plan[@]}, 64-bit program folder moves: ${#moved64[@]}, native ones: ${#movedNative[@]}"
        return
    fi
    local w64=${moved64[0]} wn=${movedNative[0]} order=ok at previous=0
    for at in "${menu[0]}" "${plan[0]}" "$w64" "${menu[1]}" "${plan[1]}" "${menu[2]}" "${plan[2]}" "$wn" "${menu[3]}" "${plan[3]}"; do
        [ "$at" -gt "$previous" ] || order=""
        previous=$at
    done
    kv_check "exactly four passes, in order: 64-bit list, 64-bit wipe, native list, native wipe" [ -n "$order" ]
    # The SYSTEM hive is one for both views: the 64-bit wipe has already emptied it.
    kv_expect_pass "$file" 1 $((w64 - 1)) "pass 1 (64-bit list)" list 'Key: SOFTWARE\Kor Vane\Cryptography' \
        'Key: SYSTEM\CurrentControlSet\Services\kvrmcsp'
    kv_expect_pass "$file" "$w64" $((menu[2] - 1)) "pass 2 (64-bit wipe)" wipe 'Deleted SOFTWARE\Kor Vane\Cryptography' \
        'Deleted SYSTEM\CurrentControlSet\Services\kvrmcsp'
    kv_expect_pass "$file" "${menu[2]}" $((wn - 1)) "pass 3 (native list)" list 'Key: SOFTWARE\Kor Vane\Cryptography' \
        'Key not exist: SYSTEM\CurrentControlSet\Services\kvrmcsp'
    kv_expect_pass "$file" "$wn" "$end" "pass 4 (native wipe)" wipe 'Deleted SOFTWARE\Kor Vane\Cryptography'
}

kv_scan() {
    local name=$1
    shift
    kv_wine "$KV_SCANNER" "$@" >"$KV_OUT/$name.raw" 2>"$KV_OUT/$name.err"
    KV_SCAN_RC=$?
    tr -d '\r' <"$KV_OUT/$name.raw" >"$KV_OUT/$name.out"
}

kv_family_counts() { kv_wine "$KV_FOOTPRINT" count | tr -d '\r' | sed -n 's/^present: [0-9]* items //p'; }

kv_found_line() {
    local sum=0 number
    for number in $(grep -o '[0-9]\+' <<<"$1"); do sum=$((sum + number)); done
    echo "kvscan: $sum items of the family found $1"
}

kv_last_line() { tail -n 1 "$1"; }

# kv_save_registry NAME: HKEY_LOCAL_MACHINE (both views: the 32-bit one lies
# under Wow6432Node) and HKEY_USERS (every loaded user's hive, HKEY_CURRENT_USER
# among them) as Wine's server writes a hive: every key, empty ones included,
# with its time of last change, and every value with its type and exact data;
# into $KV_OUT/NAME.HKLM.reg and NAME.HKU.reg. It takes a moment and changes
# nothing.
kv_save_registry() {
    kv_wine "$KV_FOOTPRINT" save-registry "Z:${KV_OUT//\//\\}" >/dev/null || return 1
    mv "$KV_OUT/HKLM.reg" "$KV_OUT/$1.HKLM.reg" && mv "$KV_OUT/HKU.reg" "$KV_OUT/$1.HKU.reg"
}

kv_machine_state() {
    local state="$KV_OUT/$1.state" hive
    kv_save_registry "$1" || echo "the registry of $1 was not saved" >"$state"
    for hive in HKLM HKU; do
        { echo "== $hive"; cat "$KV_OUT/$1.$hive.reg"; } >>"$state"
    done
    echo "== drive C" >>"$state"
    (cd "$KV_PREFIX/drive_c" && find . -printf '%y %m %s %T@ %p -> %l\n' | LC_ALL=C sort) >>"$state"
}

# The registry links that kvfootprint plants, as keys below a user's hive. The
# cleanup removes a link itself and its undo file only names it, so a registry
# restored from the undo files lacks it.
KV_PLANTED_LINKS='Software\Kor Vane\EFS\Vault'

# kv_comparable_registry HIVE: a saved hive (standard input) without the keys'
# times of last change (a restore writes every key it puts back) and, in
# HKU, without the sections of the planted links in any user's hive, nor of
# any key below them.
kv_comparable_registry() {
    KV_LINKS=$([ "$1" = HKU ] && echo "$KV_PLANTED_LINKS") perl -ne '
        BEGIN {
            for (split /\n/, $ENV{KV_LINKS}) { (my $written = $_) =~ s/\\/\\\\/g; push @links, quotemeta $written }
        }
        next if /^#time=/;
        s/^(\[.*\]) \d+$/$1/;
        if (/^\[/) { $skip = 0; for $l (@links) { $skip = 1 if /^\[[^\\]+\\\\$l(\]|\\\\)/ } }
        print unless $skip'
}

kv_expect_same_registry() {
    local before=$1 after=$2 text=$3 hive part difference=""
    for hive in HKLM HKU; do
        part=$(diff <(kv_comparable_registry $hive <"$KV_OUT/$before.$hive.reg") \
            <(kv_comparable_registry $hive <"$KV_OUT/$after.$hive.reg") | head -20)
        [ -z "$part" ] || difference+="$hive:"$'\n'"$part"$'\n'
    done
    if [ -z "$difference" ]; then kv_pass "$text"; else kv_fail "$text" "$difference"; fi
}

# The names of the undo files and the log carry the run's date and time (and
# -N after a name already taken); the temporary names of files in use are random.
kv_comparable_output() {
    perl -pe 's/^((?:Undo|Log) file: .*\\kvclean-)\d{8}-\d{6}(?:-\d+)?((?:-64|-32)?\.(?:reg|log))$/$1#$2/;
              s/csp[0-9a-fA-F]{1,4}\.tmp/csp#.tmp/g' "$1"
}

kv_undo_files() { sed -n 's/^Undo file: //p' "$1"; }

kv_expect_same_output() {
    local first=$1 second=$2 difference
    kv_comparable_output "$KV_OUT/$first.out" >"$KV_OUT/$first.comparable"
    kv_comparable_output "$KV_OUT/$second.out" >"$KV_OUT/$second.comparable"
    difference=$(diff "$KV_OUT/$first.comparable" "$KV_OUT/$second.comparable" | head -20)
    if [ -z "$difference" ]; then
        kv_pass "the $second run prints what the $first printed, undo and temporary file names apart"
    else
        kv_fail "the $second run prints what the $first printed" "$difference"
    fi
}
