#!/bin/sh
# Checks the klt-capture service template with systemd's own checker, as an instance for a
# port, with ExecStart pointing at the built binary. Exit 77 (skipped) without systemd.
# Usage: verify-capture-unit.sh UNIT INSTALLED_BINARY BUILT_BINARY WORK_DIR
set -eu
unit=$1 installed=$2 built=$3 work=$4
if ! command -v systemd-analyze >/dev/null 2>&1; then
    echo "systemd-analyze not found; skipped"
    exit 77
fi
if ! grep -q "^ExecStart=$installed " "$unit"; then
    echo "ExecStart does not run $installed" >&2
    exit 1
fi
mkdir -p "$work"
instance="$work/klt-capture@ttyUSB0.service"
sed "s#$installed#$built#" "$unit" >"$instance"
# Unknown keys and bad values are only warned about, so any output fails the check too.
output=$(systemd-analyze verify "$instance" 2>&1) || { echo "$output" >&2; exit 1; }
if [ -n "$output" ]; then
    echo "$output" >&2
    exit 1
fi
