#!/usr/bin/env bash
# Includes between the top-level source folders must point one way: from a
# higher layer to a lower one. Lists every include that goes up, and every
# include between folders of one layer that closes a circle; exit 1 if any.
#
#   scripts/check-layers.sh [LAYERS...]
#
# Each argument is one layer, bottom first; folders sharing a layer are joined
# with commas. Folders not named (tests/, resources/, ...) are not checked.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ $# -eq 0 ]; then
    set -- seams state code records link ops admin report app platform,sim,bench,cli
fi

folders=()
levels=""
level=0
for layer in "$@"; do
    level=$((level + 1))
    IFS=, read -ra names <<<"$layer"
    for f in "${names[@]}"; do
        folders+=("$f")
        levels+="$f=$level "
    done
done

existing=()
for f in "${folders[@]}"; do [ -d "$f" ] && existing+=("$f"); done
[ ${#existing[@]} -gt 0 ] || { echo "check-layers: none of the folders exist" >&2; exit 2; }

grep -rnE --include='*.cpp' --include='*.h' --include='*.hpp' --include='*.c' \
    '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[^"]+/[^"]*"' "${existing[@]}" |
awk -v levels="$levels" '
BEGIN {
    n = split(levels, pairs, " ")
    for (i = 1; i <= n; i++) { split(pairs[i], kv, "="); lvl[kv[1]] = kv[2] + 0 }
    bad = 0
}
{
    file = $0; sub(/:.*/, "", file)
    rest = substr($0, length(file) + 2); lineno = rest; sub(/:.*/, "", lineno)
    inc = rest; sub(/^[^"]*"/, "", inc); sub(/".*/, "", inc)
    from = file; sub(/\/.*/, "", from)
    to = inc; sub(/\/.*/, "", to)
    if (from == to || !(to in lvl) || !(from in lvl)) next
    where = file ":" lineno ": " inc
    if (lvl[to] > lvl[from]) {
        printf "up      %s -> %s  %s\n", from, to, where
        bad++
    } else if (lvl[to] == lvl[from]) {
        edge[from, to] = 1
        same[++ns] = from SUBSEP to SUBSEP where
        nodes[from] = 1; nodes[to] = 1
    }
}
END {
    # Same-layer edges close a circle when the target reaches the source again.
    for (a in nodes) for (b in nodes) reach[a, b] = ((a, b) in edge)
    for (k in nodes) for (a in nodes) if (reach[a, k]) for (b in nodes) if (reach[k, b]) reach[a, b] = 1
    for (i = 1; i <= ns; i++) {
        split(same[i], p, SUBSEP)
        if (reach[p[2], p[1]]) {
            printf "circle  %s -> %s  %s\n", p[1], p[2], p[3]
            bad++
        }
    }
    if (bad) { printf "%d include(s) against the layer order\n", bad; exit 1 }
}'
