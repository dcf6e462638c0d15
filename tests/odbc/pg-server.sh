#!/usr/bin/env bash
# A private PostgreSQL cluster for the tests, as an unprivileged user in a
# folder of its own, on a loopback port.
#
#   source tests/odbc/pg-server.sh; pg_start DIR; ...; pg_stop
#
# pg_start sets PG_PORT and PG_CONNECTION (an ODBC connection string with the
# driver's odbcinst name, so no data source needs setting up) and exports
# VELDRIX_TEST_PG (PG_FSYNC=on flushes each commit, as a real server does;
# the tests need not); the caller's trap runs pg_stop whatever happens.

pg_bin() { ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1; }

# Runs a command as the cluster's owner: nobody when we are root.
pg_as() {
    if [ "$(id -u)" -eq 0 ]; then runuser -u nobody -- "$@"; else "$@"; fi
}

pg_start() {
    PG_DIR="$1"
    local bin
    bin="$(pg_bin)"
    [ -n "$bin" ] || { echo "pg-server: PostgreSQL not installed (scripts/setup.sh test)" >&2; return 1; }
    mkdir -p "$PG_DIR"
    if [ "$(id -u)" -eq 0 ]; then
        chown nobody "$PG_DIR"
        chmod a+x "$(dirname "$PG_DIR")"  # a mktemp folder lets only its owner through
    fi
    pg_as "$bin/initdb" -D "$PG_DIR/data" -U veldrix --auth=trust -E UTF8 --locale=C.UTF-8 -N >"$PG_DIR/initdb.log" 2>&1 ||
        { cat "$PG_DIR/initdb.log" >&2; return 1; }
    # A free loopback port.
    PG_PORT=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    PG_CTL=("$bin/pg_ctl" -D "$PG_DIR/data" -l "$PG_DIR/server.log"
            -o "-c listen_addresses=127.0.0.1 -c port=$PG_PORT -c unix_socket_directories=$PG_DIR -c fsync=${PG_FSYNC:-off}")
    pg_as "${PG_CTL[@]}" -w start >/dev/null || { cat "$PG_DIR/server.log" >&2; return 1; }
    PG_CONNECTION="Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=$PG_PORT;Database=postgres;UID=veldrix;"
    export VELDRIX_TEST_PG="$PG_CONNECTION"
}

# Stopped without warning (clients see their connections cut), and started again.
pg_crash() { pg_as "${PG_CTL[@]}" -m immediate stop >/dev/null; }
pg_restart() { pg_as "${PG_CTL[@]}" -w start >/dev/null; }

pg_stop() {
    [ -n "${PG_DIR:-}" ] && [ -d "$PG_DIR/data" ] || return 0
    pg_as "$(pg_bin)/pg_ctl" -D "$PG_DIR/data" -m immediate stop >/dev/null 2>&1 || true
}
