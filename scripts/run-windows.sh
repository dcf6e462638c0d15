#!/usr/bin/env bash
# Builds veldrix.exe with mingw-w64 and runs it under Wine in a prefix of its
# own, connected to the simulated programmer (veldrix-sim) on COM1, with a blank
# MTP chip in its socket; lines typed on the terminal are commands to it.
#
#   scripts/run-windows.sh                     build and run until the window closes
#   scripts/run-windows.sh --port [DEVICE]     the same on the programmer attached to DEVICE (default:
#                                              the first PL2303 adapter), without the simulated one
#   scripts/run-windows.sh --screenshot FILE   run until connected, take a screenshot of the display, close
#   scripts/run-windows.sh --tests             build and run the Windows-side tests under Wine
#   scripts/run-windows.sh --no-sim            run without the simulated programmer
#
# Environment: VELDRIX_WINE_HOME (default build-win/wine) holds the prefix, the
# installation folder and the COM1 link; VELDRIX_BUILD_WIN (default build-win) is
# the Windows build; VELDRIX_WIN_ARCH=i686 makes it the 32-bit one (default
# build-win32); VW_WINEARCH=win32 makes a prefix a 32-bit Windows (default win64,
# where the 32-bit build runs as on 64-bit Windows); DISPLAY is used when set,
# otherwise an Xvfb is started.
# Without a window manager on the display the window shows in a Wine desktop,
# which draws its caption and system menu.
# Sourced (tests/wine/run-e2e.sh does), it only defines the vw_* functions below.

vw_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
vw_arch="${VELDRIX_WIN_ARCH:-x86_64}"
case "$vw_arch" in
    x86_64) vw_win="${VELDRIX_BUILD_WIN:-$vw_root/build-win}" ;;
    i686) vw_win="${VELDRIX_BUILD_WIN:-$vw_root/build-win32}" ;;
    *) echo "VELDRIX_WIN_ARCH is x86_64 or i686, not $vw_arch" >&2; exit 2 ;;
esac
VW_CONNECTED="OK, 已检测到 VELDRIX 连接在端口 USB TO COM1"

# --- tools -------------------------------------------------------------------------
vw_tools() { # installs what is missing (the native build wants GoogleTest too)
    "$vw_root/scripts/setup.sh" build test windows wine
    # The 32-bit build, or a 32-bit Windows: Wine's 32-bit side and the i386 shim.
    if vw_needs_32bit; then "$vw_root/scripts/setup.sh" release; fi
    vw_wine_for "${VW_WINEARCH:-win64}"
}

# vw_wine_for win64|win32: WINE and WINESERVER for a prefix of that kind. A
# 64-bit prefix is always made and used by the 64-bit Wine: Debian's wine
# command starts the 32-bit loader once wine32 is installed, and that loader
# cannot run the tools of a 64-bit prefix made without it. A 32-bit prefix
# needs Wine's 32-bit side.
vw_wine_for() {
    case "$1" in
        win64) WINE=/usr/lib/wine/wine64 ;;
        win32) WINE=/usr/lib/wine/wine ;;
        *) echo "VW_WINEARCH is win64 or win32, not $1" >&2; return 2 ;;
    esac
    [ -x "$WINE" ] || { echo "no $WINE: a $1 prefix needs it (scripts/setup.sh wine, release)" >&2; return 1; }
    # As Debian's wine command sets it: the 64-bit loader finds the 32-bit
    # one beside it for a 32-bit program.
    export WINELOADER="$WINE"
    WINESERVER="$(command -v wineserver || echo /usr/lib/wine/wineserver)"
}

# What made a prefix: the Wine, its version, and whether its 32-bit side was
# there (a 64-bit prefix made without it has no 32-bit system files).
vw_wine_stamp() {
    local wine32=no
    [ -x /usr/lib/wine/wine ] && wine32=yes
    printf '%s %s %s wine32=%s\n' "$WINEARCH" "$WINE" "$("$WINE" --version 2>/dev/null)" "$wine32"
}

# True where the kernel runs 32-bit programs, which Wine's 32-bit side is; 1
# where it cannot (Exec format error); 2, with a word, where the probe could
# not be built at all, which says nothing of the kernel.
vw_runs_32bit() {
    local probe status=1
    probe="$(mktemp -d)"
    printf 'int main(void) { return 0; }\n' >"$probe/probe.c"
    if ! gcc -m32 -static "$probe/probe.c" -o "$probe/probe" 2>"$probe/log"; then
        echo "could not build a 32-bit probe (gcc-multilib: scripts/setup.sh release):" >&2
        cat "$probe/log" >&2
        status=2
    elif "$probe/probe" 2>/dev/null; then
        status=0
    fi
    rm -rf "$probe"
    return $status
}

# --- builds ------------------------------------------------------------------------
vw_needs_32bit() { [ "$vw_arch" = i686 ] || [ "${VW_WINEARCH:-win64}" = win32 ]; }

vw_build_sim() { # vw_build_sim [TARGET...]: native programs, the simulator and its Wine shim unless named
    cmake -S "$vw_root" -B "$vw_root/build" -G Ninja >/dev/null
    if [ $# -gt 0 ]; then
        cmake --build "$vw_root/build" --target "$@"
        return
    fi
    cmake --build "$vw_root/build" --target veldrix-sim veldrix-ptyparity
    # Wine's 32-bit processes preload a 32-bit shim.
    if vw_needs_32bit; then vw_build_shim_i386; fi
}

# The i386 shim needs nothing of the tree (no 32-bit ODBC, no GoogleTest):
# built on its own, again when its source is newer.
vw_build_shim_i386() {
    local shim="$vw_root/build-i386/libveldrix-ptyparity.so" source="$vw_root/sim/preload/PtyParity.cpp"
    [ -f "$shim" ] && [ "$shim" -nt "$source" ] && return 0
    mkdir -p "$vw_root/build-i386"
    g++ -m32 -shared -fPIC -O2 -Wall -Wextra -o "$shim" "$source" -ldl
}

vw_build_windows() { # vw_build_windows ON|OFF|"" TARGET...: the tests flag ("" keeps it), then what to build
    local tests="$1"; shift
    local flags=(-DCMAKE_TOOLCHAIN_FILE="$vw_root/cmake/mingw-w64-$vw_arch.cmake")
    [ -n "$tests" ] && flags+=(-DVELDRIX_TESTS="$tests")
    cmake -S "$vw_root" -B "$vw_win" -G Ninja "${flags[@]}" >/dev/null
    local t
    for t in "$@"; do cmake --build "$vw_win" --target "$t"; done
}

# --- display, server, prefix -----------------------------------------------------------
vw_xvfb_pid=""
vw_sim_pid=""
vw_watch_pid=""

vw_start_xvfb() { # a private X display of 1024x768 (VW_SCREEN: another size), as DISPLAY
    local n=90
    while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 "${VW_SCREEN:-1024x768}x24" -nolisten tcp >/dev/null 2>&1 &
    vw_xvfb_pid=$!
    export DISPLAY=":$n"
    local i
    for i in $(seq 100); do
        [ -e "/tmp/.X11-unix/X$n" ] && return 0
        kill -0 "$vw_xvfb_pid" 2>/dev/null || break
        sleep 0.1
    done
    echo "Xvfb did not start on :$n" >&2
    return 1
}

vw_cleanup() {
    vw_stop_watch
    vw_stop_sim
    [ -n "${WINESERVER:-}" ] && [ -n "${WINEPREFIX:-}" ] && "$WINESERVER" -k >/dev/null 2>&1
    if [ -n "$vw_xvfb_pid" ]; then kill "$vw_xvfb_pid" 2>/dev/null; wait "$vw_xvfb_pid" 2>/dev/null; fi
    vw_xvfb_pid=""
    return 0
}

vw_import() { # vw_import FILE: a .reg file (UTF-8, LF) into the prefix's registry
    local reg="$1.utf16"
    { printf 'Windows Registry Editor Version 5.00\n\n'; cat "$1"; } | sed 's/$/\r/' |
        iconv -f UTF-8 -t UTF-16LE | { printf '\xff\xfe'; cat; } >"$reg"
    "$WINE" regedit /S "$reg" >/dev/null 2>&1
}

vw_reg() { # vw_reg query|add|delete ARGS...: Wine's reg in the native view, as the program reads it
    local view=()
    [ "$WINEARCH" = win64 ] && view=(/reg:64)
    "$WINE" reg "$@" "${view[@]}"
}

vw_winpath() { # Z: is the root of the Linux file system in every prefix
    local p="${1//\//\\}"
    printf 'Z:%s' "$p"
}

# vw_logfont WEIGHT: a LOGFONTW of the CJK face, 12 pixels high, as .reg hex bytes.
vw_logfont() {
    local face="WenQuanYi Micro Hei" bytes
    bytes="$(printf '%s' "$face" | iconv -f UTF-8 -t UTF-16LE | od -An -tx1 -v | tr -s ' \n' ' ')"
    bytes="f4 ff ff ff 00 00 00 00 00 00 00 00 00 00 00 00 $(printf '%02x %02x' $(($1 & 255)) $(($1 >> 8))) 00 00
           00 00 00 01 00 00 00 00 $bytes"
    local -a all=($bytes)
    while [ ${#all[@]} -lt 92 ]; do all+=(00); done
    local IFS=,
    printf '%s' "${all[*]}"
}

# vw_prefix HOME VIRTUAL: makes or updates the prefix in HOME/prefix, with the
# installation folder, fonts, COM1 on HOME/com1 and, when VIRTUAL is 1, one
# virtual desktop for every program (it draws the caption bars without a window
# manager, and a driver program shares it). Leaves no wine server running.
vw_prefix() {
    local home="$1" virtual="$2"
    export WINEPREFIX="$home/prefix"
    export WINEDEBUG="${WINEDEBUG:--all}"
    export WINEDLLOVERRIDES="mscoree,mshtml="
    export WINEARCH="${VW_WINEARCH:-win64}"
    VW_HOME="$home"
    VW_COM1_LINK="$home/com1"
    local install_dir="$home/install"
    mkdir -p "$home" "$install_dir"
    cp "$vw_root/resources/samlist.txt" "$install_dir/"

    # A Chinese system, as the program's users have: code page 936, and the
    # standard buttons and dialogs in Chinese. The locale is built into the
    # home (no root needed) and handed to Wine alone.
    if [ ! -d "$home/locale/zh_CN.UTF-8" ]; then
        mkdir -p "$home/locale"
        localedef -i zh_CN -f UTF-8 "$home/locale/zh_CN.UTF-8" >/dev/null 2>&1 || true
    fi
    if [ -d "$home/locale/zh_CN.UTF-8" ]; then
        export LOCPATH="$home/locale"
        export LC_ALL=zh_CN.UTF-8 2>/dev/null  # this shell has not the locale, only Wine
    else
        echo "warning: no Chinese locale for Wine; buttons and dialogs stay English" >&2
    fi

    vw_wine_for "$WINEARCH" || return 1
    # A prefix is made again when the Wine that made it has changed.
    local stamp
    stamp="$(vw_wine_stamp)"
    if [ -f "$WINEPREFIX/system.reg" ] && [ "$(cat "$WINEPREFIX/veldrix-wine" 2>/dev/null)" != "$stamp" ]; then
        echo "the Wine prefix in $WINEPREFIX was made by another Wine: made again"
        "$WINESERVER" -k >/dev/null 2>&1 || true
        rm -rf "$WINEPREFIX"
    fi
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "making the Wine prefix in $WINEPREFIX"
        "$WINE" wineboot -i >/dev/null 2>&1
        "$WINESERVER" -w
        [ -f "$WINEPREFIX/system.reg" ] || { echo "wineboot made no prefix in $WINEPREFIX" >&2; return 1; }
        printf '%s\n' "$stamp" >"$WINEPREFIX/veldrix-wine"
    fi

    # Debian's Wine does not find its own Tahoma (the face behind "MS Shell Dlg")
    # outside the prefix; without it every dialog font falls back to the CJK font.
    local fonts_dir="$WINEPREFIX/drive_c/windows/Fonts" f
    for f in /usr/share/wine/fonts/*.ttf; do
        [ -e "$f" ] && [ ! -e "$fonts_dir/$(basename "$f")" ] && ln -s "$f" "$fonts_dir/"
    done

    local win_install reg="$home/veldrix.reg" face
    win_install="$(vw_winpath "$install_dir")"
    {
        printf '[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontLink\\SystemLink]\n'
        for face in "MS Shell Dlg" "MS Shell Dlg 2" "Tahoma" "SimSun" "宋体" "Microsoft Sans Serif" \
                    "Arial" "Segoe UI" "System"; do
            printf '"%s"="wqy-microhei.ttc,WenQuanYi Micro Hei"\n' "$face"
        done
        # The faces a Chinese Windows draws with, none of them here: Micro Hei
        # keeps every stroke at 12 pixels and, being scalable, the widths the
        # window asks for.
        printf '\n[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\n'
        for face in "SimSun" "宋体" "NSimSun" "新宋体" "SimHei" "黑体" "Microsoft YaHei" "微软雅黑"; do
            printf '"%s"="WenQuanYi Micro Hei"\n' "$face"
        done
        # Grey-scale smoothing: small CJK glyphs lose strokes when drawn in black and white.
        printf '\n[HKEY_CURRENT_USER\\Control Panel\\Desktop]\n'
        printf '"FontSmoothing"="2"\n"FontSmoothingType"=dword:00000001\n'
        # Captions are drawn in a font of their own, which no link reaches:
        # message boxes titled in Chinese need a CJK face there.
        printf '\n[HKEY_CURRENT_USER\\Control Panel\\Desktop\\WindowMetrics]\n'
        printf '"CaptionFont"=hex:%s\n"SmCaptionFont"=hex:%s\n' "$(vw_logfont 700)" "$(vw_logfont 400)"
        # The installation folder as the installer writes it; VW_NO_INSTALL_DIR=1
        # leaves it to a real installer.
        if [ "${VW_NO_INSTALL_DIR:-0}" != 1 ]; then
            printf '\n[HKEY_LOCAL_MACHINE\\Software\\ZEMKO\\VELDRIX]\n'
            printf '"setup"="%s"\n' "${win_install//\\/\\\\}"
            printf '\n[HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\ZEMKO\\VELDRIX]\n'
            printf '"setup"="%s"\n' "${win_install//\\/\\\\}"
        fi
        # COM1 is the simulated programmer's pseudo-terminal, through a link that
        # each veldrix-sim run points anew.
        printf '\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\n'
        printf '"COM1"="%s"\n' "$VW_COM1_LINK"
        printf '\n[HKEY_CURRENT_USER\\Software\\Wine\\Explorer]\n'
        if [ "$virtual" = 1 ]; then
            printf '"Desktop"="Default"\n'
            printf '\n[HKEY_CURRENT_USER\\Software\\Wine\\Explorer\\Desktops]\n"Default"="1024x768"\n'
        else
            printf '"Desktop"=-\n'
        fi
    } >"$reg"
    vw_import "$reg"
    # Wine reads its port list when its server starts: start it afresh.
    "$WINESERVER" -k >/dev/null 2>&1 || true
    "$WINESERVER" -w
}

# vw_server_up: a wine server that stays up while the program runs; the
# serial-device list it keeps is rebuilt at its start and lost at its end.
vw_server_up() {
    "$WINESERVER" -p >/dev/null 2>&1 </dev/null
}

# The adapter as Windows lists it: plugged in, or pulled out.
vw_plug() {
    printf '[HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM]\n"\\\\Device\\\\ProlificSerial0"="COM1"\n' \
        >"$VW_HOME/plug.reg"
    vw_import "$VW_HOME/plug.reg"
}

vw_unplug() {
    printf '[HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM]\n"\\\\Device\\\\ProlificSerial0"=-\n' \
        >"$VW_HOME/unplug.reg"
    vw_import "$VW_HOME/unplug.reg"
}

vw_adapter_listed() { # true while the adapter's value is in the device map
    vw_reg query 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' 2>/dev/null | tr -d '\r' |
        grep -q 'ProlificSerial0.*COM1'
}

# vw_start_sim [OPTION...]: a fresh simulated programmer behind the COM1 link.
# It takes commands from VW_SIM_INPUT (a file; default none) and says what
# it has to say in sim.log, and on the terminal too when VW_SIM_ECHO is 1.
# Wine programs started afterwards may set even parity on its pseudo-terminal
# and read the unit's busy line as DSR there.
vw_start_sim() {
    vw_stop_sim
    vw_preload_shim
    rm -f "$VW_COM1_LINK"
    local sim="$vw_root/build/veldrix-sim" log="$VW_HOME/sim.log"
    : >"$log"
    mkdir -p "$VW_HOME/modem"
    export VELDRIX_PTY_MODEM="$VW_HOME/modem"
    if [ "${VW_SIM_ECHO:-0}" = 1 ]; then
        # All but its first line (the pseudo-terminal) to the terminal as well.
        "$sim" --link "$VW_COM1_LINK" --modem "$VELDRIX_PTY_MODEM" "$@" <"${VW_SIM_INPUT:-/dev/null}" \
            > >(tee -a "$log" | sed -u 1d) 2>&1 &
    else
        "$sim" --link "$VW_COM1_LINK" --modem "$VELDRIX_PTY_MODEM" "$@" <"${VW_SIM_INPUT:-/dev/null}" >"$log" 2>&1 &
    fi
    vw_sim_pid=$!
    local i
    for i in $(seq 100); do
        [ -L "$VW_COM1_LINK" ] && [ -e "$VW_COM1_LINK" ] && [ -s "$log" ] && return 0
        kill -0 "$vw_sim_pid" 2>/dev/null || break
        sleep 0.05
    done
    echo "veldrix-sim did not start:" >&2
    cat "$VW_HOME/sim.log" >&2
    return 1
}

# The library Wine's processes preload for the pseudo-terminal's parity and
# busy line: build/ has the 64-bit one, build-i386/ the one for Wine's 32-bit
# side. The loader's $LIB names each process's own library folder, so each
# finds the one that fits it and no other.
vw_preload_shim() {
    local dir="$vw_root/build/preload" shim arch
    for arch in x86_64-linux-gnu:build i386-linux-gnu:build-i386; do
        shim="$vw_root/${arch#*:}/libveldrix-ptyparity.so"
        [ -e "$shim" ] || continue
        mkdir -p "$dir/lib/${arch%%:*}"
        ln -sfn "$shim" "$dir/lib/${arch%%:*}/libveldrix-ptyparity.so"
    done
    shim="$dir/\$LIB/libveldrix-ptyparity.so"
    case ":${LD_PRELOAD:-}:" in *":$shim:"*) ;; *) export LD_PRELOAD="$shim${LD_PRELOAD:+:$LD_PRELOAD}" ;; esac
}

vw_stop_sim() {
    [ -n "$vw_sim_pid" ] || return 0
    kill "$vw_sim_pid" 2>/dev/null
    wait "$vw_sim_pid" 2>/dev/null
    vw_sim_pid=""
    return 0
}

# The simulated programmer as scripts/run.sh starts it: a blank MTP chip in the
# socket, so that "自动编程" works on the first chip.
VW_DEMO_SIM_ARGS=(--chip mtp)
vw_start_demo_sim() {
    vw_start_sim "${VW_DEMO_SIM_ARGS[@]}"
}

# vw_watch_adapter: keeps the adapter's value in the device map in step with
# the device behind the COM1 link, as the driver does on Windows: a pulled
# adapter (or "unplug" typed to the simulator) takes the link's device away.
# With VW_PORT_AUTO=1 a returning adapter is looked for under any number.
vw_watch_adapter() {
    set +e  # a failed step is tried again at the next turn
    local listed=1 port
    while :; do
        if [ ! -e "$VW_COM1_LINK" ] && [ "${VW_PORT_AUTO:-0}" = 1 ]; then
            port="$(vw_pl2303_ports | head -n 1)"
            [ -n "$port" ] && ln -sfn "$port" "$VW_COM1_LINK"
        fi
        if [ -e "$VW_COM1_LINK" ]; then
            [ "$listed" = 1 ] || { vw_plug; listed=1; }
        else
            [ "$listed" = 0 ] || { vw_unplug; listed=0; }
        fi
        sleep 0.5
    done
}

vw_start_watch() {
    vw_stop_watch
    vw_watch_adapter </dev/null >/dev/null 2>&1 &
    vw_watch_pid=$!
}

vw_stop_watch() {
    [ -n "$vw_watch_pid" ] || return 0
    kill "$vw_watch_pid" 2>/dev/null
    wait "$vw_watch_pid" 2>/dev/null || true  # it ends by the signal
    vw_watch_pid=""
    return 0
}

# --- the programmer attached ---------------------------------------------------------
# The PL2303 adapters' ports in the order the program searches them, as
# veldrix-headless finds them in sysfs (any USB id the pl2303 driver takes).
vw_pl2303_ports() {
    "$vw_root/build/veldrix-headless" --list-ports 2>/dev/null
}

# vw_check_port DEVICE: true when DEVICE is a serial device this user may open.
vw_check_port() {
    if [ ! -c "$1" ]; then
        echo "no such serial device: $1" >&2
        return 1
    fi
    if [ ! -r "$1" ] || [ ! -w "$1" ]; then
        echo "no access to $1 (owned by group $(stat -c %G "$1")): add yourself to that group, e.g." \
             "sudo usermod -aG $(stat -c %G "$1") $(id -un), and log in again" >&2
        return 1
    fi
}

# vw_desktop: 1 when the window needs a Wine desktop to get its frame: no
# window manager runs on DISPLAY (none that says so, as current ones do).
vw_desktop() {
    if xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; then echo 0; else echo 1; fi
}

# --- the program on its own ---------------------------------------------------------------
vw_main() {
    set -euo pipefail
    local screenshot="" run_tests=0 sim=1 port=""
    while [ $# -gt 0 ]; do
        case "$1" in
            --screenshot) screenshot="${2:?--screenshot needs a file name}"; shift 2 ;;
            --tests) run_tests=1; shift ;;
            --no-sim) sim=0; shift ;;
            --port)
                sim=0
                if [ $# -gt 1 ] && [ "${2#-}" = "$2" ]; then port="$2"; shift 2; else port=auto; shift; fi ;;
            -h|--help) sed -n '2,20p' "${BASH_SOURCE[0]}"; exit 0 ;;
            *) echo "unknown option: $1" >&2; exit 2 ;;
        esac
    done
    if [ -n "$screenshot" ]; then
        case "$screenshot" in /*) ;; *) screenshot="$PWD/$screenshot" ;; esac
    fi

    # A named device that is not there ends the run before anything is built.
    if [ -n "$port" ] && [ "$port" != auto ]; then
        case "$port" in /*) ;; *) port="/dev/$port" ;; esac
        vw_check_port "$port" || exit 1
    fi

    vw_tools
    if [ "$port" = auto ]; then
        vw_build_sim veldrix-headless
        port="$(vw_pl2303_ports | head -n 1 || true)"
        if [ -z "$port" ]; then
            echo "no programmer attached: no USB serial adapter of the PL2303 kind (067B:2303 or another" \
                 "id the pl2303 driver takes) is plugged in; plug it in, or name its port: --port /dev/ttyUSB0" >&2
            exit 1
        fi
        vw_check_port "$port" || exit 1
        VW_PORT_AUTO=1
    fi
    if [ "$run_tests" = 1 ]; then
        vw_build_windows ON veldrix-win32-tests veldrix-cli
    else
        local targets=(veldrix)
        [ -n "$screenshot" ] && targets+=(veldrix-driver)
        vw_build_windows "" "${targets[@]}"
        [ "$sim" = 1 ] && vw_build_sim
    fi

    trap vw_cleanup EXIT
    local own_display=0
    if [ -z "${DISPLAY:-}" ]; then
        vw_start_xvfb
        own_display=1
    fi
    vw_prefix "${VELDRIX_WINE_HOME:-$vw_win/wine}" "$(vw_desktop)"

    if [ "$run_tests" = 1 ]; then
        vw_server_up
        "$WINE" "$vw_win/tests/win32/veldrix-win32-tests.exe"
        # The command line as Windows runs it: two simulated units, one ID sequence.
        local cli_out
        cli_out="$("$WINE" "$vw_win/veldrix-cli.exe" --sim --sim-units 2 --json auto \
            "$(vw_winpath "$vw_root/resources/sample.hex")" --id 3FF0:1 2>&1 | tr -d '\r')" || {
            printf '%s\n' "$cli_out" >&2
            echo "veldrix-cli.exe: the automatic run on two simulated units failed" >&2
            return 1
        }
        printf '%s\n' "$cli_out" | grep -c '"event":"chip"' | grep -qx 2 || {
            printf '%s\n' "$cli_out" >&2
            echo "veldrix-cli.exe: not one chip event a unit" >&2
            return 1
        }
        echo "veldrix-cli.exe: automatic run on two simulated units ok"
        return
    fi

    if [ "$sim" = 1 ]; then
        # Typed lines reach the simulator while the window runs.
        [ -z "$screenshot" ] && VW_SIM_INPUT=/dev/stdin VW_SIM_ECHO=1
        vw_start_demo_sim
        echo "simulated programmer: $(head -n 1 "$VW_HOME/sim.log") behind $VW_COM1_LINK (COM1), a blank MTP chip in its socket"
    elif [ -n "$port" ]; then
        ln -sfn "$port" "$VW_COM1_LINK"
        echo "the programmer's adapter: $port behind $VW_COM1_LINK (COM1)"
    fi
    vw_server_up
    # The device map is rebuilt at the server's start: list the adapter now,
    # and keep it listed while its device is there.
    if [ "$sim" = 1 ] || [ -n "$port" ]; then
        vw_plug
        vw_start_watch
    fi

    local exe="$vw_win/veldrix.exe"
    if [ -z "$screenshot" ]; then
        [ "$own_display" = 1 ] && echo "VELDRIX runs on the Xvfb display $DISPLAY; it ends when its window closes"
        if [ "$sim" = 1 ] && [ -t 0 ]; then
            echo "type to the simulated programmer, one command a line: \"chip mtp\" a new blank chip," \
                 "\"fault noreply\" / \"fault none\" break / mend the link, \"unplug\" / \"plug\" the adapter (all: README)"
            echo "a HEX file to open: $(vw_winpath "$vw_root/resources/sample.hex")"
        fi
        "$WINE" "$exe" </dev/null
        return
    fi

    "$WINE" "$exe" &
    local app=$!
    if [ "$sim" = 1 ]; then
        # Ready for the picture once the status line tells of the connection
        # (the driver reads its commands from a file: Chinese survives there).
        printf 'wait-window 30\nwait-status "%s" 30\n' "$VW_CONNECTED" >"$VW_HOME/connected.drv"
        "$WINE" "$vw_win/veldrix-driver.exe" run "$(vw_winpath "$VW_HOME/connected.drv")" >/dev/null ||
            echo "warning: the status line never reported the connection" >&2
    else
        sleep "${VELDRIX_SCREENSHOT_DELAY:-6}"
    fi
    # The window with a margin of the desktop around it: the desktop is all one colour.
    import -window root "$screenshot.full.png"
    local desktop
    desktop="$(convert "$screenshot.full.png" -format '%[pixel:p{0,0}]' info:)"
    convert "$screenshot.full.png" -trim +repage -bordercolor "$desktop" -border 12 "$screenshot"
    rm -f "$screenshot.full.png"
    echo "screenshot: $screenshot"
    # A polite close first, so the settings are written as on a normal exit.
    "$WINE" taskkill /IM veldrix.exe >/dev/null 2>&1 || true
    local i
    for i in $(seq 50); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
    kill -0 "$app" 2>/dev/null && "$WINESERVER" -k
    wait "$app" 2>/dev/null || true
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    vw_main "$@"
fi
