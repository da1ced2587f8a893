#!/usr/bin/env bash
# The shipped programs can be checked: a second build of the same sources, in
# folders of other names and later, gives byte-identical kvclean.exe and
# kvscan.exe. The second build runs as docs/fleet.md tells an administrator to
# run it (`KV_BUILD_DIR=... ./scripts/build kvclean kvscan`), on a copy of the
# sources (committed or not) in a temporary folder. Signed, they verify, and
# their signatures removed they are the same bytes.
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

# Signed (scripts/sign, with a throwaway certificate made here), the second
# build's programs verify, and without their signatures they are the first
# build's bytes again.
openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj '/CN=kvclean throwaway signer' \
    -addext extendedKeyUsage=codeSigning -keyout "$work/key.pem" -out "$work/certificate.pem" 2>/dev/null &&
    openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/certificate.pem" -passout pass:throwaway \
        -out "$work/signer.pfx" || { echo "FAIL no throwaway certificate"; exit 1; }
if ! KV_BUILD_DIR="$work/b" KV_SIGN_PASSWORD=throwaway "$copy/scripts/sign" "$work/signer.pfx"; then
    echo "FAIL scripts/sign"
    exit 1
fi
for program in kvclean.exe kvscan.exe; do
    rm -f "$work/unsigned.exe"
    osslsigncode remove-signature -in "$work/b/signed/$program" -out "$work/unsigned.exe" >/dev/null
    if ! cmp -s "$work/b/$program" "$work/b/signed/$program" && cmp "$KV_BUILD_DIR/$program" "$work/unsigned.exe"; then
        echo "ok   signed $program without its signature: the reproducible build's bytes"
    else
        echo "FAIL signed $program without its signature differs from the reproducible build"
        failures=$((failures + 1))
    fi
done
exit $((failures > 0))
