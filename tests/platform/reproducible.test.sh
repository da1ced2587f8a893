#!/usr/bin/env bash
# The shipped programs can be checked: a second build of the same sources, in
# folders of other names and later, gives byte-identical kvclean.exe and
# kvscan.exe. The second build runs as docs/fleet.md tells an administrator to
# run it (`KV_BUILD_DIR=... ./scripts/build kvclean kvscan`), on a copy of the
# sources (committed or not) in a temporary folder.
set -u
work=$(mktemp -d "${TMPDIR:-/tmp}/kv-second-build.XXXXXX")
trap 'rm -rf "$work"' EXIT
copy="$work/sources-copied-elsewhere"
mkdir -p "$copy"
(cd "$KV_SOURCE_DIR" && git ls-files -z --cached --others --exclude-standard | tar --null -T - -cf -) |
    tar -xf - -C "$copy" || { echo "could not copy the sources"; exit 1; }

started=$(date +%s)
if ! KV_BUILD_DIR="$work/b" "$copy/scripts/build" kvclean kvscan >"$work/build.log" 2>&1; then
    tail -30 "$work/build.log"
    echo "the second build failed"
    exit 1
fi
echo "second build in $(($(date +%s) - started)) s; its sums:"
grep -E '^[0-9a-f]{64}  kv(clean|scan)\.exe$' "$work/build.log" || { echo "the build printed no SHA-256 sums"; exit 1; }

failures=0
for program in kvclean.exe kvscan.exe; do
    if cmp "$KV_BUILD_DIR/$program" "$work/b/$program"; then
        echo "ok   $program: byte-identical ($(sha256sum <"$KV_BUILD_DIR/$program" | cut -c1-16)...)"
    else
        echo "FAIL $program differs between $KV_BUILD_DIR and $work/b"
        failures=$((failures + 1))
    fi
done
exit $((failures > 0))
