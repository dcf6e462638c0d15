#!/usr/bin/env bash
# Installs veldrix-cli for this user: the program in ~/.local/bin, its man page
# and its bash completion. Builds first when the build is missing.
# Usage: scripts/install-cli.sh [PREFIX]   (default ~/.local)
set -euo pipefail
cd "$(dirname "$0")/.."
prefix="${1:-$HOME/.local}"
if [ ! -x build/veldrix-cli ] || [ ! -f build/veldrix-cli.1 ]; then
    scripts/setup.sh build
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build build --target veldrix-cli veldrix-cli-man
fi
install -Dm755 build/veldrix-cli "$prefix/bin/veldrix-cli"
install -Dm644 build/veldrix-cli.1 "$prefix/share/man/man1/veldrix-cli.1"
install -Dm644 resources/completion/veldrix-cli "$prefix/share/bash-completion/completions/veldrix-cli"
echo "veldrix-cli: $prefix/bin/veldrix-cli, man veldrix-cli, completion in $prefix/share/bash-completion/completions"
