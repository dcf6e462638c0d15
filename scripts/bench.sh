#!/usr/bin/env bash
# Builds the benchmarks and prints link timings, HEX file handling, production-record and report figures.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build-bench"
work="$(mktemp -d)"
# shellcheck source=../tests/odbc/pg-server.sh
source "$root/tests/odbc/pg-server.sh"
trap 'kill "${sim_pid:-}" 2>/dev/null || true; pg_stop; rm -rf "$work"' EXIT

"$root/scripts/setup.sh" build test
cmake -S "$root" -B "$build" -DVELDRIX_TESTS=OFF -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target veldrix-bench veldrix-bench-records veldrix-headless veldrix-sim veldrix-cli-bench veldrix-cli veldrix-bench-odbc >/dev/null

echo "== machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
echo "== link, virtual time"
"$build/veldrix-bench"

echo "== veldrix-cli against the window, virtual time"
"$build/veldrix-cli-bench" || echo "veldrix-cli benchmark out of bounds"

echo "== link, virtual time beside the real clock (paced pseudo-terminal, both ways)"
"$build/veldrix-sim" --pace --fast --chip mtp --link "$work/pty" >"$work/sim.log" 2>&1 </dev/null &
sim_pid=$!
for _ in $(seq 50); do [ -e "$work/pty" ] && break; sleep 0.1; done
"$build/veldrix-bench" --port "$work/pty" || echo "real-time run failed"
kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; sim_pid=

echo "== the wire trace's cost: 64 KB automatic sequence on the real clock (paced pseudo-terminal), with and without --trace"
echo "   (3 rounds of each in turn; medians)"
python3 -c "import os; b=bytearray(os.urandom(65536)); b[0xFF00:0xFF03]=b'\\xff'*3; open('$work/trace64.bin','wb').write(b)"
for _ in 1 2 3; do
    for mode in plain traced; do
        "$build/veldrix-sim" --pace --fast --chip mtp --link "$work/pty" >"$work/sim.log" 2>&1 </dev/null &
        sim_pid=$!
        for _ in $(seq 50); do [ -e "$work/pty" ] && break; sleep 0.1; done
        trace=()
        [ "$mode" = traced ] && trace=(--trace "$work/run.trace")
        t0=$(date +%s%N)
        "$build/veldrix-cli" --port "$work/pty" --settings "$work/no-settings" --install-dir "$root/resources" \
            --chip S3F866B --yes "${trace[@]}" auto "$work/trace64.bin" --id FF00:1 >"$work/cli.out" 2>&1 ||
            tail -3 "$work/cli.out"
        t1=$(date +%s%N)
        echo $(( (t1 - t0) / 1000000 )) >>"$work/trace-$mode"
        kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; sim_pid=
    done
done
plain=$(sort -n "$work/trace-plain" | sed -n 2p); traced=$(sort -n "$work/trace-traced" | sed -n 2p)
echo "trace: $(stat -c %s "$work/run.trace") bytes, $(wc -l <"$work/run.trace") lines"
awk -v p="$plain" -v t="$traced" 'BEGIN{printf "without %d ms, with --trace %d ms: %.4f (%+.2f %%)\n", p, t, t / p, (t / p - 1) * 100}'

echo "== veldrix-cli --sim, wall time by number of units (64 KB image, auto with ID codes)"
echo "   (7 rounds of 1, 2, 4, 8 and 16 units in turn, so that other load falls on all alike; medians)"
python3 -c "import os; b=bytearray(os.urandom(65536)); b[0xFF00:0xFF03]=b'\\xff'*3; open('$work/cli64.bin','wb').write(b)"
counts=(1 2 4 8 16)
for _ in 1 2 3 4 5 6 7; do
    for n in "${counts[@]}"; do
        t0=$(date +%s%N)
        "$build/veldrix-cli" --settings "$work/no-settings" --install-dir "$root/resources" --chip S3F866B \
            --sim-units "$n" auto "$work/cli64.bin" --id FF00:1 >"$work/cli.out" 2>&1 || tail -3 "$work/cli.out"
        t1=$(date +%s%N)
        echo $(( (t1 - t0) / 1000000 )) >>"$work/units-$n"
    done
done
one=$(sort -n "$work/units-1" | sed -n 4p)
for n in "${counts[@]}"; do
    m=$(sort -n "$work/units-$n" | sed -n 4p)
    awk -v n="$n" -v m="$m" -v o="$one" -v lo="$(sort -n "$work/units-$n" | head -1)" -v hi="$(sort -n "$work/units-$n" | tail -1)" \
        'BEGIN{printf "%2d units %7d ms (%d-%d)   %5.2f x one unit\n", n, m, lo, hi, m / o}'
done

best() {  # best wall time (ms) over 5 runs of the command, and the peak RSS (KB) of that run
    local b="" r="" t0 t1 t m
    for _ in 1 2 3 4 5; do
        t0=$(date +%s%N)
        /usr/bin/time -f '%M' -o "$work/t" "$@" >"$work/out" 2>&1 || { cat "$work/out"; return 1; }
        t1=$(date +%s%N)
        t=$(( (t1 - t0) / 1000 )); m=$(tail -n1 "$work/t")
        if [ -z "$b" ] || [ "$t" -lt "$b" ]; then b=$t; r=$m; fi
    done
    awk -v t="$b" -v m="$r" 'BEGIN{printf "%.1f %s\n", t / 1000, m}'
}
report() { printf '%-36s %9s ms %9s KB\n' "$1" $2 $3; }
ratio() { awk -v v="${1% *}" -v s="${2% *}" -v o="${3% *}" \
    'BEGIN{printf "veldrix / srec_cat = %.2f, veldrix / objcopy = %.2f\n", v/s, v/o}'; }

echo "== HEX loading, 1 MB image (whole processes, best of 5; peak RSS)"
head -c 1048576 /dev/urandom >"$work/image.bin"
objcopy -I binary -O ihex "$work/image.bin" "$work/image.hex"
echo "file: $(stat -c %s "$work/image.hex") bytes of HEX text"
printf 'start\nset 147 %s\nload\nquit\n' "$work/image.hex" >"$work/load.vdx"
v=$(best "$build/veldrix-headless" "$work/load.vdx"); grep -m1 '^load:' "$work/out"
s=$(best srec_cat "$work/image.hex" -intel -o "$work/out.bin" -binary)
o=$(best objcopy -I ihex -O binary "$work/image.hex" "$work/out.bin")
report "veldrix-headless load" $v
report "srec_cat ihex->binary" $s
report "objcopy ihex->binary" $o
ratio "$v" "$s" "$o"

echo "== HEX saving, 64 KB range 0000-FFFF (whole processes, best of 5; peak RSS)"
head -c 65536 "$work/image.bin" >"$work/64k.bin"
# Debug mode saves the loaded code without a programmer attached.
printf 'start\nset 147 %s\nload\nclick 30003\nset 129 0000\nset 131 FFFF\nsave %s\nclick 151\nquit\n' \
    "$work/64k.bin" "$work/saved.hex" >"$work/save.vdx"
v=$(best "$build/veldrix-headless" "$work/save.vdx"); tail -n1 "$work/out"
srec_cat "$work/saved.hex" -intel -o "$work/back.bin" -binary 2>/dev/null
cmp -s "$work/back.bin" "$work/64k.bin" && echo "saved file read back by srec_cat: same bytes" || echo "saved file differs!"
s=$(best srec_cat "$work/64k.bin" -binary -o "$work/64k.hex" -intel)
o=$(best objcopy -I binary -O ihex "$work/64k.bin" "$work/64k.hex")
report "veldrix-headless save (incl. load)" $v
report "srec_cat binary->ihex" $s
report "objcopy binary->ihex" $o
ratio "$v" "$s" "$o"

echo "== production records: start-up with a year of records, appends, ID codes (files in the page cache)"
"$build/veldrix-bench-records" generate "$work/records" 1000000 365
echo "folder: $(du -sh "$work/records" | cut -f1)"
for _ in 1 2 3 4 5; do "$build/veldrix-bench-records" load "$work/records"; done
# Each append is flushed to the disk of the work folder before it returns.
"$build/veldrix-bench-records" append "$work/appends" 1000
# An ID code handed out and confirmed with its record, through the folder's lock.
"$build/veldrix-bench-records" idcodes "$work/idcodes" 1000

echo "== production report: a year of records, 1,000,000 over 365 files (whole process, best of 5; peak RSS)"
python3 "$root/scripts/make-records.py" "$work/year" 1000000 365 --start 2024-01-01
echo "folder: $(du -sh "$work/year" | cut -f1)"
r=$(best "$build/veldrix-cli" report --log-dir "$work/year" -o "$work/year.html"); head -n1 "$work/out"
report "veldrix-cli report -o (HTML)" $r
r=$(best "$build/veldrix-cli" --json report --log-dir "$work/year")
report "veldrix-cli --json report" $r

echo "== production records on a loopback PostgreSQL through ODBC (real clock, a private cluster)"
PG_FSYNC=on pg_start "$work/pg"  # as a factory server runs, flushing each commit
VELDRIX_BENCH_ODBC="$PG_CONNECTION" "$build/veldrix-bench-odbc" 1000
