# Disposable Wine prefixes for tests: sourced by the harness and by scenario tests.
#
#   kv_prefix_new win64|win32   fresh copy of the pristine prefix, wineserver and services up; sets KV_PREFIX
#   kv_wine PROGRAM ARGS...     runs a Windows program in it (exit code passed through)
#   kv_prefix_reboot            restarts the prefix's "Windows" (reboot-time renames happen here)
#   kv_prefix_drop              stops its wineserver and removes it (also done on exit)
#
# Nothing here ever touches ~/.wine: every prefix lives under KV_PRISTINE_DIR/run.

export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY

: "${KV_PRISTINE_DIR:?KV_PRISTINE_DIR must name the folder of pristine prefixes}"

KV_PREFIX=""
KV_PREFIX_ARCH=""

kv_detached() { "$@" </dev/null >/dev/null 2>&1; }

kv_prefix_new() {
    local arch=$1 pristine="$KV_PRISTINE_DIR/$1"
    [ -f "$pristine/.kv-ready" ] || { echo "no pristine $arch prefix at $pristine" >&2; return 1; }
    mkdir -p "$KV_PRISTINE_DIR/run"
    KV_PREFIX=$(mktemp -d "$KV_PRISTINE_DIR/run/$arch.XXXXXX")
    KV_PREFIX_ARCH=$arch
    # The system folders' binaries are shared by hard link (nothing writes them in
    # place); everything else, the registry files included, is a real copy.
    cp -al "$pristine/." "$KV_PREFIX/"
    (cd "$KV_PREFIX" && find . -type f \
        ! -path './drive_c/windows/system32/*' ! -path './drive_c/windows/syswow64/*' \
        ! -path './drive_c/windows/winsxs/*' -print0 |
        while IFS= read -r -d '' f; do cp --remove-destination -p "$pristine/$f" "$f"; done)
    export WINEPREFIX="$KV_PREFIX"
    if [ "$arch" = win32 ]; then export WINEARCH=win32; else unset WINEARCH; fi
    kv_detached wineserver -p
    kv_detached wine wineboot
    trap kv_prefix_drop EXIT
}

kv_wine() {
    wine "$@"
}

kv_prefix_reboot() {
    kv_detached wineserver -k
    kv_detached wineserver -w
    kv_detached wineserver -p
    kv_detached wine wineboot -r
}

kv_prefix_drop() {
    if [ -n "$KV_PREFIX" ] && [ -d "$KV_PREFIX" ]; then
        WINEPREFIX="$KV_PREFIX" kv_detached wineserver -k
        WINEPREFIX="$KV_PREFIX" kv_detached wineserver -w
        rm -rf "$KV_PREFIX"
    fi
    KV_PREFIX=""
}

# Windows path (as the program sees it) of a path inside the prefix's drive C.
kv_unix_path() {
    local win=${1#[Cc]:\\}
    printf '%s/drive_c/%s\n' "$KV_PREFIX" "${win//\\//}"
}
