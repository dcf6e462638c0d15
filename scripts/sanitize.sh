#!/usr/bin/env bash
# The native tests under AddressSanitizer + UndefinedBehaviorSanitizer, and the
# threaded tests (real worker and link-monitor threads against the simulated
# programmer, a pseudo-terminal link) under ThreadSanitizer. Any report fails.
# Usage: sanitize.sh [asan|tsan]...   (both when none is named)
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
kinds=("$@")
[ ${#kinds[@]} -eq 0 ] && kinds=(asan tsan)
scripts/setup.sh build test fuzz

for kind in "${kinds[@]}"; do
    case "$kind" in
        asan)
            flags="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
            filter="" ;;
        tsan)
            flags="-fsanitize=thread"
            filter="(WorkerThreads|PtyLink|link/Connect|tests/cli/)" ;;
        *) echo "sanitize.sh: unknown kind $kind" >&2; exit 2 ;;
    esac
    echo "== native tests under $kind"
    CC=clang CXX=clang++ cmake -S . -B "build-$kind" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
        -DCMAKE_CXX_FLAGS="-O1 $flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" \
        -DVELDRIX_TEST_FILTER="$filter" >/dev/null
    cmake --build "build-$kind" -j "$jobs" --target veldrix-tests veldrix-sim
    export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
    # The scenarios run the headless program; the GoogleTests carry the sanitizer
    # here, in one shard per core.
    pids=()
    for ((shard = 0; shard < jobs; ++shard)); do
        GTEST_TOTAL_SHARDS=$jobs GTEST_SHARD_INDEX=$shard "build-$kind/tests/veldrix-tests" --gtest_brief=1 \
            >"build-$kind/shard-$shard.log" 2>&1 &
        pids+=($!)
    done
    failed=0
    for ((shard = 0; shard < jobs; ++shard)); do
        wait "${pids[$shard]}" || failed=1
        tail -n 5 "build-$kind/shard-$shard.log"
    done
    [ $failed -eq 0 ] || { echo "$kind: a shard failed" >&2; exit 1; }
    echo "$kind: clean"
done
