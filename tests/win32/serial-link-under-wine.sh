#!/usr/bin/env bash
# Runs the Windows serial link test under Wine on a COM port mapped to a pseudo-terminal that
# the Linux klt-sim plays a stream into.
# Usage: serial-link-under-wine.sh KLT_SIM TEST_EXE STREAM   (WINEPREFIX set)
#
# Each test gets a pseudo-terminal of its own. A pseudo-terminal has no parity: Linux drops
# the parity flag from its settings, and the C library then reports a request for even
# parity as failed unless something else changed with it. Wine's SetCommState therefore
# succeeds once on a fresh pseudo-terminal and fails on every later open of the same one;
# a real COM port has no such limit.
set -euo pipefail
sim="$1" exe="$2" stream="$3"
: "${WINEPREFIX:?the Wine prefix to map the port in}"
port_number=33
link="$WINEPREFIX/dosdevices/com$port_number"
tests=(ReceivesThePlayedStreamByteForByte EveryStepOnThePort SecondOpenOfAnOpenPort)

work="$(mktemp -d)"
sim_pid=""
stop_sim() {
    if [ -n "$sim_pid" ]; then
        kill "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
        sim_pid=""
    fi
}
cleanup() {
    stop_sim
    rm -f "$link"
    rm -rf "$work"
}
trap cleanup EXIT
wine_stream="$(winepath -w "$stream" 2>/dev/null)"

status=0
for test in "${tests[@]}"; do
    # The simulator's own virtual port, kept out of the user's port list. It sets the
    # pseudo-terminal raw, 2400 8E2, before anyone opens it.
    : >"$work/port"
    XDG_RUNTIME_DIR="$work" "$sim" --repeat --delay 1 --burst "$stream" \
        >"$work/port" 2>"$work/sim.log" &
    sim_pid=$!
    for _ in $(seq 100); do
        [ -s "$work/port" ] && break
        sleep 0.1
    done
    port="$(head -n 1 "$work/port")"
    if [ -z "$port" ]; then
        cat "$work/sim.log" >&2
        exit 1
    fi
    ln -sfn "/dev/$port" "$link"
    echo "$test: COM$port_number -> /dev/$port"
    if ! KLT_TEST_PORT="COM$port_number" KLT_TEST_STREAM="$wine_stream" \
        wine "$exe" --gtest_filter="Win32SerialLink.$test"; then
        status=1
        cat "$work/sim.log" >&2
    fi
    stop_sim
done
exit "$status"
