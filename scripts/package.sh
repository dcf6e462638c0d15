#!/usr/bin/env bash
# Builds the Windows installer build-package/veldrix-setup-VERSION.exe (VERSION
# as the version resource of veldrix.exe has it): a 32-bit NSIS installer that
# carries both Windows builds and puts the 64-bit one on 64-bit Windows, the
# 32-bit one elsewhere (resources/installer.nsi says what it does).
#
#   scripts/package.sh              builds both Windows programs, then the installer
#   scripts/package.sh --no-build   the installer from build-win and build-win32 as they are
#   scripts/package.sh --amd64      also veldrix-setup-VERSION-amd64.exe: the same installer
#                                   as a 64-bit program, for tests where no 32-bit program runs
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
build=1 amd64=0
for arg in "$@"; do
    case "$arg" in
        --no-build) build=0 ;;
        --amd64) amd64=1 ;;
        -h|--help) sed -n '2,10p' "$0"; exit 0 ;;
        *) echo "package.sh: unknown option $arg" >&2; exit 2 ;;
    esac
done

scripts/setup.sh build windows release

# The one version: the version resource's.
version="$(sed -n 's/.*VALUE "ProductVersion", "\([^"]*\)".*/\1/p' resources/veldrix.rc)"
file_version="$(sed -n 's/^ *FILEVERSION *\([0-9]*\), *\([0-9]*\), *\([0-9]*\), *\([0-9]*\).*/\1.\2.\3.\4/p' resources/veldrix.rc)"
if [ -z "$version" ] || [ -z "$file_version" ]; then
    echo "package.sh: no version in resources/veldrix.rc" >&2
    exit 1
fi

if [ "$build" = 1 ]; then
    jobs=$(nproc)
    for arch in x86_64:build-win i686:build-win32; do
        cmake -S . -B "${arch#*:}" -G Ninja -DCMAKE_BUILD_TYPE=Release \
            -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-w64-${arch%%:*}.cmake" >/dev/null
        cmake --build "${arch#*:}" -j "$jobs" --target veldrix veldrix-cli
    done
fi
for f in build-win/veldrix.exe build-win/veldrix-cli.exe build-win32/veldrix.exe build-win32/veldrix-cli.exe; do
    [ -f "$f" ] || { echo "package.sh: missing $f (run without --no-build)" >&2; exit 1; }
done

mkdir -p build-package
make_installer() { # make_installer OUTFILE [DEFINE...]
    local out="$1"
    shift
    makensis -V2 -INPUTCHARSET UTF8 "-DVERSION=$version" "-DFILE_VERSION=$file_version" "-DOUTFILE=$out" \
        "-DWIN64=$root/build-win" "-DWIN32=$root/build-win32" "-DRESOURCES=$root/resources" "$@" \
        resources/installer.nsi
    echo "installer: $out"
}
make_installer "$root/build-package/veldrix-setup-$version.exe"
[ "$amd64" = 1 ] && make_installer "$root/build-package/veldrix-setup-$version-amd64.exe" -DTARGET_AMD64
exit 0
