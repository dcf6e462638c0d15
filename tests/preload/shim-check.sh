#!/usr/bin/env bash
# The simulator's Wine shim as Wine's processes load it.
#
#   tests/preload/shim-check.sh SHIM x86_64|i386
#
# The shim must define every libc name Wine's calls reach: for i386 also the
# 64-bit-time twin __ioctl_time64, which Debian's i386 Wine calls instead of
# ioctl. Then a probe built as Wine is built (for i386: plain and with 64-bit
# time) runs with the shim preloaded and must get the busy line and even
# parity on a pseudo-terminal. Where the kernel runs no 32-bit programs the
# i386 probe is reported as not run; the symbol check holds everywhere.
set -uo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
# shellcheck source=../../scripts/run-windows.sh
source "$root/scripts/run-windows.sh"
shim="${1:?the shim}" arch="${2:?x86_64 or i386}"
case "$arch" in
    x86_64) names=(ioctl tcsetattr) machine=-m64 builds=("") ;;
    i386) names=(ioctl __ioctl_time64 tcsetattr) machine=-m32 builds=("" "-D_TIME_BITS=64 -D_FILE_OFFSET_BITS=64") ;;
    *) echo "shim-check: x86_64 or i386, not $arch" >&2; exit 2 ;;
esac
[ -f "$shim" ] || { echo "FAIL: no shim at $shim" >&2; exit 1; }

status=0
defined="$(nm -D --defined-only "$shim" | awk '$2 == "T" { print $3 }')"
for name in "${names[@]}"; do
    grep -qx "$name" <<<"$defined" || { echo "FAIL: $shim does not define $name"; status=1; }
done
[ "$status" = 0 ] && echo "shim ($arch): defines ${names[*]}"

if [ "$arch" = i386 ]; then
    vw_runs_32bit
    case $? in
        0) ;;
        1) echo "NOT RUN: the i386 probe: this kernel runs no 32-bit programs"; exit $status ;;
        *) exit 1 ;;
    esac
fi
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
for build in "${builds[@]}"; do
    # shellcheck disable=SC2086 # the build's flags are words
    if ! g++ "$machine" $build -O1 -o "$work/probe" "$root/tests/preload/ShimProbe.cpp"; then
        echo "FAIL: the $arch probe ($build) did not build"
        status=1
        continue
    fi
    LD_PRELOAD="$shim" "$work/probe" || { echo "FAIL: the $arch probe ${build:+($build) }under the shim"; status=1; }
done
exit $status
