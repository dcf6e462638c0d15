#!/usr/bin/env bash
# Sets up what is missing, builds and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

scripts/setup.sh build test windows

echo "== native build and tests"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs"
(cd build && ctest --output-on-failure -j "$jobs")

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
