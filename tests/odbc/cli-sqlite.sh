#!/usr/bin/env bash
# veldrix-cli on a line's database, through SQLite's ODBC driver: chips with
# ID codes go in and the report reads them back; a server away makes the ID
# step wait --db-wait seconds and exit 2, its password shown nowhere.
#
#   tests/odbc/cli-sqlite.sh PATH/TO/veldrix-cli SAMPLE.hex
set -euo pipefail
cli="$1" hex="$2"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

printf 'Driver=SQLite3;Database=%s/line.db;PWD=cli-Secret-4;\n' "$work" >"$work/line.odbc"
"$cli" --sim --sim-units 3 --settings "$work/settings" --records-odbc-file "$work/line.odbc" \
    auto "$hex" --id 0FF0:41 >"$work/auto.out" 2>"$work/auto.err" || fail "auto on the database: exit $?"
"$cli" --json --settings "$work/settings" report --records-odbc-file "$work/line.odbc" >"$work/report.json" ||
    fail "report from the database: exit $?"
python3 - "$work/report.json" <<'PY' || fail "the report does not hold the three good chips 41-43"
import json, sys
r = json.loads(open(sys.argv[1]).readline())
assert r["total"]["good"] == 3 and r["total"]["counted"] == 3, r["total"]
assert r["id_codes"]["ranges"] == [{"first": 41, "last": 43, "count": 3}], r["id_codes"]
assert r["source"]["database"].endswith("line.odbc"), r["source"]
PY

printf 'Driver=SQLite3;Database=%s/none/line.db;PWD=cli-Secret-4;\n' "$work" >"$work/away.odbc"
start=$SECONDS
status=0
"$cli" --sim --settings "$work/settings" --records-odbc-file "$work/away.odbc" --db-wait 2 \
    auto "$hex" --id 0FF0:1 >"$work/away.out" 2>"$work/away.err" || status=$?
[ "$status" = 2 ] || fail "a server away: exit $status, not 2"
[ $((SECONDS - start)) -ge 2 ] || fail "a server away: gave up before --db-wait"
grep -q "无法连接生产记录数据库 $work/away.odbc" "$work/away.err" || fail "a server away: the box does not name the file"
if grep -q "cli-Secret-4" "$work"/*.out "$work"/*.err "$work/report.json"; then fail "the password shows"; fi
echo "cli-sqlite: ok"
