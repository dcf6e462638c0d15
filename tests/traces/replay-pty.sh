#!/usr/bin/env bash
# veldrix-sim --replay on a paced pseudo-terminal, veldrix-cli against it on
# the real clock: the kept trace passes; with one byte of the host's changed
# the replay names the exchange and the offset and the host fails.
#   replay-pty.sh VELDRIX_SIM VELDRIX_CLI SOURCE_DIR
set -uo pipefail
sim=$1 cli=$2 src=$3
work=$(mktemp -d)
trap 'kill "${pid:-}" 2>/dev/null; rm -rf "$work"' EXIT
fail=0

# One replay; sets rc (the host's), srv (the replay's) and err (what it said).
replay() {
    "$sim" --pace --replay "$1" --link "$work/pty" >"$work/out" 2>"$work/err" </dev/null &
    pid=$!
    for _ in $(seq 50); do [ -e "$work/pty" ] && break; sleep 0.1; done
    timeout 120 "$cli" --port "$work/pty" --settings "$work/none" --yes auto "$src/resources/sample.hex" \
        --id 3FF0:101 >"$work/cli" 2>&1
    rc=$?
    kill "$pid"; wait "$pid"; srv=$?; pid=
    err=$(cat "$work/err")
}

replay "$src/tests/traces/auto-pty-paced.trace"
if [ "$rc" -ne 0 ] || [ "$srv" -ne 0 ] || ! grep -q '^replay: [0-9]* exchanges as recorded$' "$work/out"; then
    echo "FAIL: the kept trace: host $rc, replay $srv: $err"; cat "$work/cli"; fail=1
fi

# Byte 5 of the first 8-byte write (code going down) changed.
awk -F'\t' -v OFS='\t' '!done && $2 == "write" && $3 == "8" { split($5, b, " "); b[6] = (b[6] == "00" ? "01" : "00");
    $5 = b[1]; for (i = 2; i <= 8; i++) $5 = $5 " " b[i]; done = NR } { print } END { print done > "/dev/stderr" }' \
    "$src/tests/traces/auto-pty-paced.trace" >"$work/changed.trace" 2>"$work/line"
line=$(cat "$work/line")
replay "$work/changed.trace"
if [ "$rc" -eq 0 ] || [ "$srv" -ne 1 ] || ! grep -q "(trace line $line), byte 5: expected 0x" <<<"$err"; then
    echo "FAIL: a changed host byte on line $line: host $rc, replay $srv: $err"; fail=1
fi
[ "$fail" -eq 0 ] && echo "replay on a pseudo-terminal: passed; a changed host byte: $err"
exit "$fail"
