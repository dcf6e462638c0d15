#!/usr/bin/env bash
# Installs what is missing on a Debian machine. Usage: setup.sh [build|test|windows|wine|fuzz]...
set -euo pipefail

# CLI11 and nlohmann-json are header-only: veldrix-cli takes them from
# /usr/include, the Windows build too. help2man makes veldrix-cli's man page.
want=(cmake ninja-build g++ make pkg-config libcli11-dev nlohmann-json3-dev help2man)
for group in "$@"; do
    case "$group" in
        build) ;;
        test) want+=(libgtest-dev googletest binutils srecord) ;;
        windows) want+=(g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64) ;;
        wine) want+=(wine wine64 fonts-wine xvfb imagemagick xdotool fonts-wqy-microhei locales x11-utils) ;;
        fuzz) want+=(clang libclang-rt-14-dev) ;;
        *) echo "setup.sh: unknown group $group" >&2; exit 2 ;;
    esac
done

missing=()
for p in "${want[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "setup: installing ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo=sudo
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
