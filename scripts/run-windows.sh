#!/usr/bin/env bash
# Builds veldrix.exe with mingw-w64 and runs it under Wine in a prefix of its own.
#
#   scripts/run-windows.sh                     build and run until the window closes
#   scripts/run-windows.sh --screenshot FILE   run, take a screenshot of the display, close
#   scripts/run-windows.sh --tests             build and run the Windows-side tests under Wine
#
# Environment: VELDRIX_WINE_HOME (default build-win/wine) holds the prefix and
# the installation folder; DISPLAY is used when set, otherwise an Xvfb is started.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
screenshot=""
run_tests=0
while [ $# -gt 0 ]; do
    case "$1" in
        --screenshot) screenshot="${2:?--screenshot needs a file name}"; shift 2 ;;
        --tests) run_tests=1; shift ;;
        -h|--help) sed -n '2,9p' "$0"; exit 0 ;;
        *) echo "unknown option: $1" >&2; exit 2 ;;
    esac
done
if [ -n "$screenshot" ]; then
    case "$screenshot" in /*) ;; *) screenshot="$PWD/$screenshot" ;; esac
fi

# --- tools: install only what is missing -----------------------------------
missing=()
need() { # need PACKAGE TEST...
    local pkg="$1"; shift
    if ! "$@" >/dev/null 2>&1; then missing+=("$pkg"); fi
}
need wine test -x /usr/bin/wine
need fonts-wine test -e /usr/share/wine/fonts/tahoma.ttf
need wine64 sh -c 'command -v wine64 || test -x /usr/lib/wine/wine64'
need xvfb command -v Xvfb
need imagemagick command -v import
need fonts-wqy-zenhei sh -c 'ls /usr/share/fonts/truetype/wqy/wqy-zenhei.ttc'
need g++-mingw-w64-x86-64 command -v x86_64-w64-mingw32-g++-posix
need cmake command -v cmake
need ninja-build command -v ninja
if [ "$run_tests" = 1 ]; then need libgtest-dev test -d /usr/src/googletest; fi
if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q
    apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# Debian's wine 8 may come without the 32-bit half: the 64-bit loader is enough.
if command -v wine >/dev/null 2>&1; then WINE=wine
elif command -v wine64 >/dev/null 2>&1; then WINE=wine64
else WINE=/usr/lib/wine/wine64; fi
WINESERVER="$(command -v wineserver || echo /usr/lib/wine/wineserver)"

# --- build -----------------------------------------------------------------
tests_flag=OFF
[ "$run_tests" = 1 ] && tests_flag=ON
cmake -S "$root" -B "$root/build-win" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DVELDRIX_TESTS=$tests_flag >/dev/null
if [ "$run_tests" = 1 ]; then
    cmake --build "$root/build-win" --target veldrix-win32-tests
else
    cmake --build "$root/build-win" --target veldrix
fi

# --- prefix, display, registry ---------------------------------------------
home="${VELDRIX_WINE_HOME:-$root/build-win/wine}"
export WINEPREFIX="$home/prefix"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml="
install_dir="$home/install"
mkdir -p "$home" "$install_dir"
[ -f "$root/resources/samlist.txt" ] && cp "$root/resources/samlist.txt" "$install_dir/"

xvfb_pid=""
cleanup() {
    "$WINESERVER" -k >/dev/null 2>&1 || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT
if [ -z "${DISPLAY:-}" ]; then
    n=90
    while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    export DISPLAY=":$n"
    for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
fi

if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "making the Wine prefix in $WINEPREFIX"
    "$WINE" wineboot -i >/dev/null 2>&1
    "$WINESERVER" -w
fi

# Debian's Wine does not find its own Tahoma (the face behind "MS Shell Dlg")
# outside the prefix; without it every dialog font falls back to the CJK font.
fonts_dir="$WINEPREFIX/drive_c/windows/Fonts"
for f in /usr/share/wine/fonts/*.ttf; do
    [ -e "$f" ] && [ ! -e "$fonts_dir/$(basename "$f")" ] && ln -s "$f" "$fonts_dir/"
done

# Z: is the root of the Linux file system in every prefix.
win_install="Z:${install_dir//\//\\}"
reg="$home/veldrix.reg"
{
    printf 'Windows Registry Editor Version 5.00\r\n\r\n'
    printf '[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontLink\\SystemLink]\r\n'
    for face in "MS Shell Dlg" "MS Shell Dlg 2" "Tahoma" "SimSun" "宋体" "Microsoft Sans Serif" \
                "Arial" "Segoe UI" "System"; do
        printf '"%s"="wqy-zenhei.ttc,WenQuanYi Zen Hei"\r\n' "$face"
    done
    # Grey-scale smoothing: small CJK glyphs lose strokes when drawn in black and white.
    printf '\r\n[HKEY_CURRENT_USER\\Control Panel\\Desktop]\r\n'
    printf '"FontSmoothing"="2"\r\n"FontSmoothingType"=dword:00000001\r\n'
    printf '\r\n[HKEY_LOCAL_MACHINE\\Software\\ZEMKO\\VELDRIX]\r\n'
    printf '"setup"="%s"\r\n' "${win_install//\\/\\\\}"
    printf '\r\n[HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\ZEMKO\\VELDRIX]\r\n'
    printf '"setup"="%s"\r\n' "${win_install//\\/\\\\}"
} | iconv -f UTF-8 -t UTF-16LE | { printf '\xff\xfe'; cat; } >"$reg"
"$WINE" regedit /S "$reg" >/dev/null 2>&1
"$WINESERVER" -w

# --- run -------------------------------------------------------------------
if [ "$run_tests" = 1 ]; then
    "$WINESERVER" -p
    status=0
    "$WINE" "$root/build-win/platform/win32/tests/veldrix-win32-tests.exe" || status=$?
    exit $status
fi

exe="$root/build-win/veldrix.exe"
if [ -z "$screenshot" ]; then
    "$WINE" "$exe"
    exit 0
fi

"$WINESERVER" -p
# The serial-device list is rebuilt when the server starts: list an adapter now,
# so the picture shows the window rather than the no-adapter message.
serialcomm="$home/serialcomm.reg"
printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM]\r\n"\\\\Device\\\\ProlificSerial0"="COM1"\r\n' >"$serialcomm"
"$WINE" regedit /S "$serialcomm" >/dev/null 2>&1
# A desktop window of Wine's own draws the caption bar even without a window manager.
"$WINE" explorer /desktop=VELDRIX,1024x768 "$exe" &
app=$!
sleep "${VELDRIX_SCREENSHOT_DELAY:-6}"
import -window root "$screenshot"
echo "screenshot: $screenshot"
# A polite close first, so the settings are written as on a normal exit.
"$WINE" taskkill /IM veldrix.exe >/dev/null 2>&1 || true
for _ in $(seq 50); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
kill -0 "$app" 2>/dev/null && "$WINESERVER" -k
wait "$app" 2>/dev/null || true
