#!/usr/bin/env bash
# Installs what is missing on a Debian machine. Usage: setup.sh [build|test|windows|wine|fuzz|release|report]...
set -euo pipefail

# CLI11 and nlohmann-json are header-only: veldrix-cli takes them from
# /usr/include, the Windows build too. help2man makes veldrix-cli's man page.
# unixODBC's headers and library for the records on a database server.
# Chart.js draws the production report's charts; the build takes it into the programs.
want=(cmake ninja-build g++ make pkg-config libcli11-dev nlohmann-json3-dev help2man libjs-chart.js unixodbc-dev)
wine32=0
for group in "$@"; do
    case "$group" in
        build) ;;
        # A private PostgreSQL and SQLite, each through its ODBC driver, for the database store's tests.
        test) want+=(libgtest-dev googletest binutils srecord postgresql odbc-postgresql unixodbc libsqliteodbc) ;;
        windows) want+=(g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64) ;;
        wine) want+=(wine wine64 fonts-wine xvfb imagemagick xdotool fonts-wqy-microhei locales x11-utils) ;;
        fuzz) want+=(clang libclang-rt-14-dev) ;;
        # The production report opened in a real browser, with Chinese faces.
        report) want+=(chromium fonts-wqy-microhei python3) ;;
        # The 32-bit build, the simulator's preloaded library for i386 and the
        # installer; Wine's 32-bit side below, where it can run.
        release) want+=(g++-mingw-w64-i686-posix binutils-mingw-w64-i686 g++-multilib nsis); wine32=1 ;;
        *) echo "setup.sh: unknown group $group" >&2; exit 2 ;;
    esac
done

sudo=""
[ "$(id -u)" -ne 0 ] && sudo=sudo

install_missing() {
    local missing=() p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "setup: installing ${missing[*]}"
    # Packages of another architecture need it added first.
    for p in "${missing[@]}"; do
        case "$p" in
            *:i386) dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386 ;;
        esac
    done
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

install_missing "${want[@]}"

# Wine's 32-bit side, only on a kernel that runs 32-bit programs: where that
# cannot run, the 32-bit loader it brings would start no program at all. The
# scripts pick the Wine of each prefix themselves (run-windows.sh), so what
# was made before it was installed goes on working.
if [ "$wine32" = 1 ]; then
    probe="$(mktemp -d)"
    printf 'int main(void) { return 0; }\n' >"$probe/probe.c"
    # A probe that does not build says nothing of the kernel: that is a failed set-up.
    if ! gcc -m32 -static "$probe/probe.c" -o "$probe/probe"; then
        echo "setup: a 32-bit program could not be built (gcc-multilib)" >&2
        rm -rf "$probe"
        exit 1
    fi
    if "$probe/probe" 2>/dev/null; then
        install_missing wine32:i386
    else
        echo "setup: this kernel does not run 32-bit programs: Wine's 32-bit side is left out" >&2
    fi
    rm -rf "$probe"
fi
