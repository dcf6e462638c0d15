#!/usr/bin/env bash
# Sets up what is missing, builds and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
started=$SECONDS
# Where the time goes: each step's seconds, listed at the end.
times=() name="" last=$SECONDS
step() {
    [ -n "$name" ] && times+=("$(printf '%5d s  %s' $((SECONDS - last)) "$name")")
    name="$1" last=$SECONDS
    [ -n "$name" ] && echo "== $name"
    return 0
}

step "packages"
scripts/setup.sh build test windows

step "layers"
scripts/check-layers.sh && echo "no include against the layer order"

# The programs the Wine tests use; the suite itself runs once, under the
# sanitizers, below (veldrix-cli there too).
step "native build"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs" --target veldrix-sim veldrix-headless veldrix-ptyparity

# ThreadSanitizer's own tree runs in the release tests: here the threaded
# tests run under the address sanitizer with the rest.
step "tests under the sanitizers"
scripts/sanitize.sh asan

step "fault matrix and production run (run by ctest above; their figures)"
grep -h '^production run' build-asan/Testing/Temporary/LastTest.log
grep -h '^fault matrix' build-asan/Testing/Temporary/LastTest.log | sort > build-asan/fault-matrix.txt
awk '{ for (i = 1; i <= NF; ++i) { if ($i == "struck") s += $(i - 2); if ($i == "armed") a += $(i - 1);
       if ($i == "undetectable),") u += substr($(i - 1), 2) } }
     END { printf "fault matrix: %d cases struck (%d armed), %d undetectable by any host, all passed\n", s, a, u }' \
    build-asan/fault-matrix.txt

step "fuzzing"
scripts/fuzz.sh --tree build-asan "${VELDRIX_FUZZ_SECONDS:-20}"

step "Windows build"
cmake -S . -B build-win -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DVELDRIX_TESTS=ON >/dev/null
cmake --build build-win -j "$jobs"
ls -l build-win/veldrix.exe

# The Windows side runs under Wine: its tools are needed from here on only.
step "Wine"
scripts/setup.sh wine
status=0
step "Windows tests under Wine"
scripts/run-windows.sh --tests || status=1
step "end-to-end tests under Wine"
tests/wine/run-e2e.sh --no-build || status=1
step ""
printf '%s\n' "${times[@]}"
echo "test command: $([ "$status" = 0 ] && echo passed || echo FAILED) in $((SECONDS - started)) s"
exit $status
