#!/usr/bin/env bash
# The release tests, run by .ci/run after scripts/test.sh: the 32-bit Windows
# build with its Windows tests and end-to-end runs under Wine's 32-bit side
# (on a 32-bit and on a 64-bit Windows prefix), the longer end-to-end runs of
# the 64-bit build (an adapter pulled, a unit busy for stretches, 96 and 144
# DPI), the production report opened in chromium (scripts/test-report-browser.sh),
# and the installer: built, installed silently under Wine, started,
# upgraded and uninstalled. Installs what it needs (scripts/setup.sh release).
#
# A kernel that runs no 32-bit programs cannot run Wine's 32-bit side: there
# the 32-bit build is built and its imports checked, its runs are reported as
# not run (VELDRIX_REQUIRE_32BIT=1 makes that a failure), and the installer is
# tested as its 64-bit build (the same installer script).
set -uo pipefail
cd "$(dirname "$0")/.."
started=$SECONDS
jobs=$(nproc)
# shellcheck source=run-windows.sh
source scripts/run-windows.sh

set -e
scripts/setup.sh build test windows wine release report
status=0
step() { echo "== $1 ($((SECONDS - started)) s)"; }

step "Windows builds"
cmake -S . -B build-win -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake >/dev/null
cmake --build build-win -j "$jobs" --target veldrix veldrix-cli veldrix-driver
cmake -S . -B build-win32 -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake -DVELDRIX_TESTS=ON >/dev/null
cmake --build build-win32 -j "$jobs"
set +e

# What Windows needs of the 32-bit programs: Intel 80386 code, and nothing
# from a DLL a 32-bit Windows 7 lacks.
step "32-bit programs"
for exe in build-win32/veldrix.exe build-win32/veldrix-cli.exe; do
    header="$(i686-w64-mingw32-objdump -f "$exe")"
    dlls="$(i686-w64-mingw32-objdump -p "$exe" | sed -n 's/^\tDLL Name: //p' | tr 'A-Z' 'a-z' | sort | tr '\n' ' ')"
    others="$(for d in $dlls; do
        case "$d" in
            advapi32.dll|comctl32.dll|comdlg32.dll|gdi32.dll|kernel32.dll|msvcrt.dll|odbc32.dll|ole32.dll|shell32.dll|user32.dll|uxtheme.dll|winmm.dll) ;;
            *) printf '%s ' "$d" ;;
        esac
    done)"
    if printf '%s' "$header" | grep -q 'file format pei-i386' && [ -z "$others" ]; then
        echo "$exe: 32-bit, imports $dlls"
    else
        echo "FAIL: $exe: $(printf '%s' "$header" | sed -n 's/.*file format //p'), unexpected imports: $others"
        status=1
    fi
done

# The i386 shim Wine's 32-bit processes preload: built on its own, and
# checked for the names Wine's libc calls reach (the 64-bit-time twin too)
# on any kernel; its probe runs where 32-bit programs do.
step "the simulator's shim for Wine's 32-bit side"
vw_build_shim_i386 && tests/preload/shim-check.sh build-i386/libveldrix-ptyparity.so i386 || status=1

vw_runs_32bit
runs_32bit=$?
case $runs_32bit in
    0) echo "this kernel runs 32-bit programs: the 32-bit runs are required" ;;
    1) echo "this kernel runs no 32-bit programs (Exec format error)" ;;
    *) echo "FAIL: whether this kernel runs 32-bit programs could not be told"; status=1 ;;
esac
if [ "$runs_32bit" = 0 ]; then
    step "Windows tests of the 32-bit build on 32-bit Windows"
    VELDRIX_WIN_ARCH=i686 VW_WINEARCH=win32 scripts/run-windows.sh --tests || status=1
    step "Windows tests of the 32-bit build on 64-bit Windows"
    VELDRIX_WIN_ARCH=i686 VELDRIX_WINE_HOME="$PWD/build-win32/wine-wow64" scripts/run-windows.sh --tests || status=1
    step "end-to-end runs of the 32-bit program on 32-bit Windows"
    VELDRIX_WIN_ARCH=i686 VW_WINEARCH=win32 tests/wine/run-e2e.sh startup download auto-program pull busy-line ||
        status=1
    step "end-to-end runs of the 32-bit program on 64-bit Windows"
    VELDRIX_WIN_ARCH=i686 VELDRIX_E2E_HOME="$PWD/build-win32/wine-e2e-wow64" tests/wine/run-e2e.sh startup auto-program ||
        status=1
elif [ "$runs_32bit" = 1 ]; then
    echo "NOT RUN: the 32-bit program's Windows tests and end-to-end runs: this kernel runs no 32-bit programs," \
         "so Wine's 32-bit side cannot start here"
    [ "${VELDRIX_REQUIRE_32BIT:-0}" = 1 ] && status=1
fi

step "threaded tests under ThreadSanitizer"
scripts/sanitize.sh tsan || status=1

step "a line of stations on one PostgreSQL: load, and the server stopped and started in the middle"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs" --target veldrix-cli >/dev/null
tests/odbc/line-load.sh build || status=1

step "longer end-to-end runs of the 64-bit program"
tests/wine/run-e2e.sh --release || status=1

step "production report in a browser"
scripts/test-report-browser.sh --screenshot build/report.png || status=1

step "installer"
if scripts/package.sh --no-build --amd64; then
    tests/wine/run-installer.sh || status=1
else
    status=1
fi

# Every prefix the runs used was made by the Wine that used it: one made
# before wine32 came, and not made again, would have failed above.
step "Wine prefixes"
for made in build-win/wine*/prefix/veldrix-wine build-win32/wine*/prefix/veldrix-wine; do
    [ -f "$made" ] || continue
    WINEARCH="$(cut -d' ' -f1 "$made")"
    if vw_wine_for "$WINEARCH" && [ "$(cat "$made")" = "$(vw_wine_stamp)" ]; then
        echo "${made%/prefix/veldrix-wine}: $(cat "$made")"
    else
        echo "FAIL: ${made%/prefix/veldrix-wine} was made by $(cat "$made"), not by the Wine that uses it now"
        status=1
    fi
done

echo "release tests: $([ "$status" = 0 ] && echo passed || echo FAILED) in $((SECONDS - started)) s"
exit $status
