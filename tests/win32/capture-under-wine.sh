#!/usr/bin/env bash
# klt-capture.exe under Wine: the port list, then one history received from a COM port that
# Wine maps to a pseudo-terminal the Linux klt-sim plays into, written byte for byte as
# klt-decode.exe writes the same stream.
# Usage: capture-under-wine.sh KLT_SIM CAPTURE_EXE DECODE_EXE STREAM   (WINEPREFIX set)
set -euo pipefail
sim="$1" capture="$2" decode="$3" stream="$4"
: "${WINEPREFIX:?the Wine prefix to map the port in}"
port_number=34
link="$WINEPREFIX/dosdevices/com$port_number"

work="$(mktemp -d)"
sim_pid=""
cleanup() {
    if [ -n "$sim_pid" ]; then
        kill "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
    rm -f "$link"
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# Wine lists no ports (its SetupAPI has no "Ports" devices): the list is empty and says so,
# status 1. On Windows every line names a COM or LPT port.
list_status=0
wine "$capture" --list >"$work/list.out" 2>"$work/list.err" || list_status=$?
case "$list_status" in
0) grep -qvE '^(COM|LPT)[0-9]+' "$work/list.out" && fail "--list: $(cat "$work/list.out")" ;;
1) [ -s "$work/list.out" ] && fail "--list printed ports yet failed" ;;
*) fail "--list ended with status $list_status: $(cat "$work/list.err")" ;;
esac
echo "--list: status $list_status"

# The simulator's own virtual port, set raw at 2400 8E2 before Wine opens it; it plays once
# the capture has opened the port.
XDG_RUNTIME_DIR="$work" "$sim" --delay 0.5 --burst "$stream" >"$work/port" 2>"$work/sim.log" &
sim_pid=$!
for _ in $(seq 100); do
    [ -s "$work/port" ] && break
    sleep 0.1
done
port="$(head -n 1 "$work/port")"
[ -n "$port" ] || fail "no virtual port: $(cat "$work/sim.log")"
ln -sfn "/dev/$port" "$link"
echo "COM$port_number -> /dev/$port"

out="$(winepath -w "$work/history.txt")"
status=0
timeout 120 wine "$capture" "COM$port_number" "$out" 2>"$work/capture.err" || status=$?
cat "$work/capture.err" >&2
[ "$status" -eq 0 ] || fail "capture ended with status $status"

wine "$decode" "$(winepath -w "$stream")" "$(winepath -w "$work/expected.txt")"
cmp "$work/expected.txt" "$work/history.txt" || fail "the history differs from klt-decode's"
echo "history: $(wc -c <"$work/history.txt") bytes, equal to klt-decode's"
