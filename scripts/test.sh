#!/usr/bin/env bash
# Sets up what is missing, builds and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

scripts/setup.sh build test windows

echo "== layers"
scripts/check-layers.sh && echo "no include against the layer order"

# The programs the Wine tests use; the suite itself runs once, under the
# sanitizers, below (veldrix-cli there too).
echo "== native build"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs" --target veldrix-sim veldrix-headless veldrix-ptyparity

echo "== tests under the sanitizers"
scripts/sanitize.sh asan tsan

echo "== fault matrix and production run (run by ctest above; their figures)"
grep -h '^production run' build-asan/Testing/Temporary/LastTest.log
grep -h '^fault matrix' build-asan/Testing/Temporary/LastTest.log | sort > build-asan/fault-matrix.txt
awk '{ for (i = 1; i <= NF; ++i) { if ($i == "struck") s += $(i - 2); if ($i == "armed") a += $(i - 1);
       if ($i == "undetectable),") u += substr($(i - 1), 2) } }
     END { printf "fault matrix: %d cases struck (%d armed), %d undetectable by any host, all passed\n", s, a, u }' \
    build-asan/fault-matrix.txt

echo "== fuzzing"
scripts/fuzz.sh --tree build-asan "${VELDRIX_FUZZ_SECONDS:-20}"

echo "== Windows build"
cmake -S . -B build-win -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DVELDRIX_TESTS=ON >/dev/null
cmake --build build-win -j "$jobs"
ls -l build-win/veldrix.exe

# The Windows side runs under Wine: its tools are needed from here on only.
scripts/setup.sh wine
status=0
echo "== Windows tests under Wine"
scripts/run-windows.sh --tests || status=1
echo "== end-to-end tests under Wine"
tests/wine/run-e2e.sh --no-build || status=1
exit $status
