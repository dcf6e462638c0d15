#!/usr/bin/env bash
# The whole native test suite (GoogleTests and scenarios, through ctest) under
# AddressSanitizer + UndefinedBehaviorSanitizer, and the threaded tests (real
# worker and link-monitor threads against the simulated programmer, a
# pseudo-terminal link) under ThreadSanitizer. Any report fails.
# The ASan tree also holds the libFuzzer targets (scripts/fuzz.sh --tree
# build-asan runs them from there), so the sanitized core is built once.
# Usage: sanitize.sh [asan|tsan]...   (both when none is named)
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
kinds=("$@")
[ ${#kinds[@]} -eq 0 ] && kinds=(asan tsan)
scripts/setup.sh build test fuzz
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1

for kind in "${kinds[@]}"; do
    case "$kind" in
        asan)
            flags="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
            echo "== native tests under asan (the whole suite)"
            CC=clang CXX=clang++ cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug \
                -DCMAKE_CXX_FLAGS="-O1 $flags" -DCMAKE_CXX_FLAGS_DEBUG="-gline-tables-only" \
                -DCMAKE_EXE_LINKER_FLAGS="$flags" -DCMAKE_SHARED_LINKER_FLAGS="$flags" -DVELDRIX_FUZZ=ON >/dev/null
            cmake --build build-asan -j "$jobs"
            (cd build-asan && ctest --output-on-failure -j "$jobs") || { echo "asan: tests failed" >&2; exit 1; }
            ;;
        tsan)
            flags="-fsanitize=thread"
            echo "== threaded tests under tsan"
            CC=clang CXX=clang++ cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug \
                -DCMAKE_CXX_FLAGS="-O1 $flags" -DCMAKE_CXX_FLAGS_DEBUG="-gline-tables-only" \
                -DCMAKE_EXE_LINKER_FLAGS="$flags" \
                -DVELDRIX_TEST_FILTER="(WorkerThreads|PtyLink|link/Connect|tests/cli/)" >/dev/null
            cmake --build build-tsan -j "$jobs" --target veldrix-tests veldrix-sim veldrix-ptyparity
            # One shard per core.
            pids=()
            for ((shard = 0; shard < jobs; ++shard)); do
                GTEST_TOTAL_SHARDS=$jobs GTEST_SHARD_INDEX=$shard build-tsan/tests/veldrix-tests --gtest_brief=1 \
                    >"build-tsan/shard-$shard.log" 2>&1 &
                pids+=($!)
            done
            failed=0
            for ((shard = 0; shard < jobs; ++shard)); do
                wait "${pids[$shard]}" || failed=1
                tail -n 5 "build-tsan/shard-$shard.log"
            done
            [ $failed -eq 0 ] || { echo "tsan: a shard failed" >&2; exit 1; }
            ;;
        *) echo "sanitize.sh: unknown kind $kind" >&2; exit 2 ;;
    esac
    echo "$kind: clean"
done
