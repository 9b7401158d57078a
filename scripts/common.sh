# Shared by the scripts: where things live and how Wine is run.
root=${root:-$(cd "$(dirname "$0")/.." && pwd)}
build="$root/build"
export WINEPREFIX="${TARQUELL_WINEPREFIX:-$build/wineprefix}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
ports="$build/ports"

say() { printf '%s\n' "$*" >&2; }

as_root() {
    if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi
}

# Starts a private X server (of ${screen:-1280x1024} pixels) when there is no
# display; stop_display ends it.
xvfb_pid=
start_display() {
    [ -n "${DISPLAY:-}" ] && [ "${1:-}" != "--private" ] && return 0
    fdfile=$(mktemp)
    Xvfb -displayfd 3 -screen 0 "${screen:-1280x1024}x24" -nolisten tcp 3>"$fdfile" >/dev/null 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 100); do [ -s "$fdfile" ] && break; sleep 0.1; done
    DISPLAY=":$(cat "$fdfile")"
    export DISPLAY
    rm -f "$fdfile"
}
stop_display() {
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
    xvfb_pid=
}

# Maps Wine's COMn onto a path; the simulated device points that path (a
# symbolic link) at its pseudo-terminal.
map_port() {
    name=$1 target=$2
    if ! grep -qi "\"$name\"=\"$(printf '%s' "$target" | sed 's/[.[\*^$/]/\\&/g')\"" "$WINEPREFIX/system.reg" 2>/dev/null; then
        wine reg add 'HKLM\Software\Wine\Ports' /v "$name" /d "$target" /f >/dev/null 2>&1
        wineserver -k 2>/dev/null || true
        wineserver -w
    fi
}

# Points WINEPREFIX at a copy of the prefix set to DPI on a Wine desktop of
# SIZE (WIDTHxHEIGHT) in DIR: files hard-linked, the registry copied. Wine
# reads LogPixels when its server starts, so the copy gets a server of its
# own and the shared prefix's is never restarted.
scaled_prefix() {
    rm -rf "$3"
    cp -al "$WINEPREFIX" "$3"
    for reg in system.reg user.reg userdef.reg; do cp --remove-destination "$WINEPREFIX/$reg" "$3/$reg"; done
    sed -i "s/^\"LogPixels\"=dword:.*/\"LogPixels\"=dword:$(printf %08x "$1")/; s/^\"Default\"=\"[0-9]*x[0-9]*\"/\"Default\"=\"$2\"/" \
        "$3/system.reg" "$3/user.reg"
    export WINEPREFIX="$3"
}
