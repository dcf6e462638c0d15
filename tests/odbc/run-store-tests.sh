#!/usr/bin/env bash
# The database store's tests (veldrix-odbc-tests) against a private
# PostgreSQL, started here and stopped whatever happens, and against SQLite.
#
#   tests/odbc/run-store-tests.sh PATH/TO/veldrix-odbc-tests [GTEST ARGS...]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
# shellcheck source=pg-server.sh
source "$here/pg-server.sh"
work="$(mktemp -d)"
trap 'pg_stop; rm -rf "$work"' EXIT
pg_start "$work/pg"
"$@"
