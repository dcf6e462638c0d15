#!/usr/bin/env bash
# A line of stations on one PostgreSQL (run by scripts/test-release.sh):
# eight veldrix-cli processes of four simulated units each, 5,024 chips in
# all with the ID increment and a random share of chips failing; then the
# same with the server stopped without warning in the middle of the run and
# started again. After each: no ID code on two good chips, no gap in the
# codes beyond one for each chip that failed, every chip one record, and the counts the
# units report match the records.
#
#   tests/odbc/line-load.sh BUILD_DIR
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
# shellcheck source=pg-server.sh
source "$root/tests/odbc/pg-server.sh"
work="$(mktemp -d)"
trap 'pg_stop; rm -rf "$work"' EXIT
pg_start "$work/pg"
psql_bin="$(pg_bin)/psql"
sql() { PGOPTIONS='-c client_min_messages=warning' "$psql_bin" -h 127.0.0.1 -p "$PG_PORT" -U veldrix -d postgres -At -c "$1"; }
printf '%s\n' "$PG_CONNECTION" >"$work/line.odbc"
processes=8 units=4 chips=157  # chips per unit: 8 x 4 x 157 = 5,024

run_line() {  # NAME [crash]: the processes at once, the server crashed once in their middle
    local name="$1" crash="${2:-}" p
    sql "DROP TABLE IF EXISTS veldrix_records; DROP TABLE IF EXISTS veldrix_id_codes" >/dev/null
    for p in $(seq "$processes"); do
        mkdir -p "$work/$name/$p"
        # A chip after each line; about one in eight on some unit fails with a supply fault.
        python3 -c "
import random
random.seed($p * 7919 + ${#name})
for _ in range($chips - 1):
    print('sim %d:fault ev any once' % random.randint(1, $units) if random.random() < 0.5 else '')
" >"$work/$name/$p/input"
        "$build/veldrix-cli" --settings "$work/$name/$p/settings" --install-dir "$root/resources" \
            --sim-units "$units" --records-odbc-file "$work/line.odbc" --db-wait 60 --json \
            auto "$root/resources/sample.hex" --id 0FF0:1 --repeat <"$work/$name/$p/input" \
            >"$work/$name/$p/out.json" 2>"$work/$name/$p/err.txt" &
        echo $! >"$work/$name/$p/pid"
    done
    if [ -n "$crash" ]; then
        # In the middle: about half the chips stored.
        local total=$((processes * units * chips))
        for _ in $(seq 600); do
            [ "$(sql "SELECT count(*) FROM veldrix_records" 2>/dev/null || echo 0)" -ge $((total / 2)) ] && break
            sleep 0.1
        done
        echo "$name: server stopped without warning at $(sql 'SELECT count(*) FROM veldrix_records') records"
        pg_crash
        sleep 3
        pg_restart
        echo "$name: server started again"
    fi
    for p in $(seq "$processes"); do
        wait "$(cat "$work/$name/$p/pid")" || true
    done
    check "$name"
}

check() {
    local name="$1" bad=0
    # What the units say: chips, good and bad, from each process's summary.
    read -r chips_said good_said bad_said < <(cat "$work/$name"/*/out.json | python3 -c '
import json, sys
c = g = b = 0
for line in sys.stdin:
    e = json.loads(line)
    if e["event"] == "summary":
        for u in e["units"]:
            c += u["chips"]; g += u["good"]; b += u["bad"]
print(c, g, b)')
    local records good twice taken gaps top left leaks
    records=$(sql "SELECT count(*) FROM veldrix_records")
    good=$(sql "SELECT count(*) FROM veldrix_records WHERE result = 'good'")
    local badrec
    badrec=$(sql "SELECT count(*) FROM veldrix_records WHERE result = 'bad'")
    twice=$(sql "SELECT count(*) FROM (SELECT id_code FROM veldrix_records WHERE result = 'good' AND id_code IS NOT NULL
                 GROUP BY id_code HAVING count(*) > 1) t")
    top=$(sql "SELECT coalesce(max(id_code), 0) FROM veldrix_id_codes")
    taken=$(sql "SELECT count(*) FROM veldrix_id_codes WHERE state = 'taken'")
    gaps=$(sql "SELECT count(*) FROM generate_series(1, $top) n WHERE n NOT IN (SELECT id_code FROM veldrix_id_codes)")
    local unconfirmed
    unconfirmed=$(sql "SELECT count(*) FROM veldrix_id_codes c WHERE state = 'good' AND NOT EXISTS
                       (SELECT 1 FROM veldrix_records r WHERE r.id_code = c.id_code AND r.result = 'good')")
    left=$(find "$work/$name" -name 'pending-*' | wc -l)
    leaks=$(cat "$work/$name"/*/out.json "$work/$name"/*/err.txt | grep -c 'Driver={' || true)
    echo "$name: $records records ($good good, $badrec bad), units said $chips_said chips ($good_said good, $bad_said bad);" \
         "codes 1-$top: $taken still taken, $gaps missing, $twice on two good chips; $left pending files left"
    [ "$records" -eq "$chips_said" ] || { echo "FAIL: $name: records and chips differ"; bad=1; }
    [ "$good" -eq "$good_said" ] && [ "$badrec" -eq "$bad_said" ] || { echo "FAIL: $name: counts differ"; bad=1; }
    [ "$chips_said" -eq $((processes * units * chips)) ] || { echo "FAIL: $name: not every chip ran"; bad=1; }
    [ "$twice" -eq 0 ] || { echo "FAIL: $name: a code on two good chips"; bad=1; }
    [ "$unconfirmed" -eq 0 ] || { echo "FAIL: $name: a code good without its record"; bad=1; }
    # Missing (given back, no later chip took them) or still taken: only codes
    # of chips that failed or stopped, at most one each.
    [ $((gaps + taken)) -le $((records - good)) ] ||
        { echo "FAIL: $name: more codes missing or taken than chips that failed"; bad=1; }
    [ "$left" -eq 0 ] || { echo "FAIL: $name: records left waiting"; bad=1; }
    [ "$leaks" -eq 0 ] || { echo "FAIL: $name: the connection string shown"; bad=1; }
    [ "$bad" -eq 0 ] && echo "$name: all checks held"
    return $bad
}

status=0
start=$SECONDS
run_line steady || status=1
echo "steady run: $((SECONDS - start)) s"
start=$SECONDS
run_line crash crash || status=1
echo "run with the server stopped and started: $((SECONDS - start)) s"
exit $status
