#!/usr/bin/env bash
# Builds the libFuzzer targets (build-fuzz) and runs each for a while on a copy
# of its seed corpus. Usage: fuzz.sh [--tree DIR] [seconds-per-target] (default
# 30); --tree takes the targets from a tree that has them built already
# (scripts/sanitize.sh asan builds them in build-asan).
# Exits non-zero when any target found a crash, time-out, leak or sanitizer
# report; the work directory with the reproducers is then kept and named.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
tree=""
if [ "${1:-}" = --tree ]; then
    tree=${2:?usage: $0 [--tree DIR] [seconds-per-target]}
    shift 2
fi
seconds=${1:-30}
case "$seconds" in '' | *[!0-9]*) echo "usage: $0 [seconds-per-target]" >&2; exit 2 ;; esac
jobs=$(nproc)
targets=(hex bin project chiplist replies)

scripts/setup.sh fuzz

if [ -z "$tree" ]; then
    echo "== fuzz build"
    tree=build-fuzz
    CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DVELDRIX_FUZZ=ON -DVELDRIX_TESTS=OFF >/dev/null
    cmake --build build-fuzz -j "$jobs" --target veldrix-fuzz
fi
for name in "${targets[@]}"; do
    [ -x "$tree/tests/fuzz/fuzz-$name" ] || { echo "fuzz.sh: no $tree/tests/fuzz/fuzz-$name" >&2; exit 2; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/veldrix-fuzz-run.XXXXXX")
echo "== fuzzing, ${seconds} s per target, $jobs at a time (work: $work)"

# The summary line of one finished target: name, executions, corpus, result.
report() {
    local name=$1 dir=$work/$1 rc result execs corpus
    rc=$(cat "$dir/rc" 2>/dev/null || echo "?")
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/log" | tail -1)
    corpus=$(find "$dir/corpus" -type f | wc -l)
    if [ "$rc" = 0 ]; then
        result=ok
    elif grep -q "ERROR: libFuzzer: timeout" "$dir/log"; then
        result="timeout"
    elif grep -q "out-of-memory" "$dir/log"; then
        result="out of memory"
    elif grep -q "LeakSanitizer" "$dir/log"; then
        result="leak"
    elif grep -q "FUZZ_CHECK failed" "$dir/log"; then
        result="check failed: $(grep -m1 -o 'FUZZ_CHECK failed: .*' "$dir/log" | cut -c20-)"
    elif grep -q "runtime error:" "$dir/log"; then
        result="undefined behaviour: $(grep -m1 -o 'runtime error: .*' "$dir/log" | cut -c16-)"
    elif grep -q "ERROR: AddressSanitizer" "$dir/log"; then
        result="$(grep -m1 -o 'ERROR: AddressSanitizer: [a-z-]*' "$dir/log" | cut -c8-)"
    else
        result="failed (exit $rc)"
    fi
    local artifact
    artifact=$(find "$dir" -maxdepth 1 -type f \( -name 'crash-*' -o -name 'timeout-*' -o -name 'leak-*' -o -name 'oom-*' \) -print -quit)
    [ -n "$artifact" ] && result="$result; reproducer $artifact"
    printf '%-14s %12s %8s  %s\n' "fuzz-$name" "${execs:-?}" "$corpus" "$result"
}

# One target: a fresh copy of its seeds, its files and reproducers under work/NAME.
run_target() {
    local name=$1 dir=$work/$1
    mkdir -p "$dir/corpus" "$dir/tmp"
    cp -r "tests/fuzz/corpus/$name/." "$dir/corpus/"
    local rc=0
    (cd "$dir" && TMPDIR="$dir/tmp" "$root/$tree/tests/fuzz/fuzz-$name" \
        -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$dir/" corpus >"$dir/log" 2>&1) || rc=$?
    echo "$rc" >"$dir/rc"
    report "$name"
}

start=$SECONDS
running=0
for name in "${targets[@]}"; do
    if [ "$running" -ge "$jobs" ]; then
        wait -n || true
        running=$((running - 1))
    fi
    run_target "$name" &
    running=$((running + 1))
done
wait || true

echo "== results after $((SECONDS - start)) s"
printf '%-14s %12s %8s  %s\n' target executions corpus result
failed=0
for name in "${targets[@]}"; do
    line=$(report "$name")
    echo "$line"
    case "$line" in *"  ok") ;; *) failed=1 ;; esac
done

if [ "$failed" -ne 0 ]; then
    echo "fuzz.sh: findings above; logs and reproducers kept in $work" >&2
    exit 1
fi
rm -rf "$work"
