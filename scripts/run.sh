#!/usr/bin/env bash
# Sets up what is missing, builds both programs and runs VELDRIX against the
# simulated programmer, a blank MTP chip in its socket; --port [DEVICE] runs it
# on the programmer attached instead (see scripts/run-windows.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
if [ -x scripts/run-windows.sh ]; then
    exec scripts/run-windows.sh "$@"
fi
scripts/setup.sh build test
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"
build/veldrix-headless scripts/demo.vdx
