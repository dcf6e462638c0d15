#!/usr/bin/env bash
# Builds the benchmarks and prints link timings and HEX file handling figures.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build-bench"
work="$(mktemp -d)"
trap 'kill "${sim_pid:-}" 2>/dev/null || true; rm -rf "$work"' EXIT

"$root/scripts/setup.sh" build test
cmake -S "$root" -B "$build" -DVELDRIX_TESTS=OFF -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target veldrix-bench veldrix-headless veldrix-sim >/dev/null

echo "== machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
echo "== link, virtual time"
"$build/veldrix-bench"

echo "== link, real time"
"$build/veldrix-sim" --pace --fast --link "$work/pty" >"$work/sim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 50); do [ -e "$work/pty" ] && break; sleep 0.1; done
"$build/veldrix-bench" --port "$work/pty" 8 || echo "real-time run failed"
kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; sim_pid=

echo "== HEX loading, 1 MB image (best of 5, wall seconds; peak RSS KB)"
head -c 1048576 /dev/urandom >"$work/image.bin"
objcopy -I binary -O ihex "$work/image.bin" "$work/image.hex"
printf 'start\nset 147 %s\nload\nquit\n' "$work/image.hex" >"$work/load.vdx"
best() {  # best wall time and its peak RSS over 5 runs of the command
    local b="" r=""
    for _ in 1 2 3 4 5; do
        /usr/bin/time -f '%e %M' -o "$work/t" "$@" >"$work/out" 2>&1 || { cat "$work/out"; return 1; }
        read -r t m <"$work/t"
        if [ -z "$b" ] || awk "BEGIN{exit !($t < $b)}"; then b=$t; r=$m; fi
    done
    echo "$b $r"
}
report() { printf '%-34s %8s s %10s KB\n' "$1" $2 $3; }
v=$(best "$build/veldrix-headless" "$work/load.vdx"); grep -m1 '^load:' "$work/out" | cut -c1-60
s=$(best srec_cat "$work/image.hex" -intel -o "$work/out.bin" -binary)
o=$(best objcopy -I ihex -O binary "$work/image.hex" "$work/out.bin")
report "veldrix-headless load" $v
report "srec_cat ihex->binary" $s
report "objcopy ihex->binary" $o
awk -v v="${v% *}" -v s="${s% *}" -v o="${o% *}" 'BEGIN{f=(s<o?s:o); if(f>0) printf "veldrix / faster tool = %.2f\n", v/f}'

echo "== HEX writing, 64 KB (tools only)"
head -c 65536 "$work/image.bin" >"$work/64k.bin"
report "srec_cat binary->ihex" $(best srec_cat "$work/64k.bin" -binary -o "$work/64k.hex" -intel)
report "objcopy binary->ihex" $(best objcopy -I binary -O ihex "$work/64k.bin" "$work/64k.hex")
