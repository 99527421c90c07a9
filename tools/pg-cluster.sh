#!/usr/bin/env bash
# A throwaway PostgreSQL cluster for the tests, the benchmarks and the cluster
# demo: it listens on a socket in DIR only (no TCP), trusts local connections, and
# runs as an unprivileged user (postgres when started as root).
#
#   tools/pg-cluster.sh start DIR    prints the connection string of its "postgres" database
#   tools/pg-cluster.sh stop DIR     stops it (DIR stays; remove it yourself)
#   tools/pg-cluster.sh crash DIR    stops it the way a crash would (no shutdown checkpoint)
#   tools/pg-cluster.sh available    exit 0 when PostgreSQL's server programs are installed
set -eu
bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
cmd=${1:-}
if [ "$cmd" = available ]; then [ -n "$bin" ] && [ -x "$bin/initdb" ]; exit; fi
dir=${2:?usage: $0 start|stop DIR}
[ -n "$bin" ] || { echo "PostgreSQL is not installed (Debian: apt-get install postgresql)" >&2; exit 2; }
as=()
if [ "$(id -u)" = 0 ]; then as=(runuser -u postgres --); fi
case "$cmd" in
  start)
    mkdir -p "$dir"
    [ "$(id -u)" = 0 ] && chown postgres "$dir"
    if [ ! -d "$dir/data" ]; then
      "${as[@]}" "$bin/initdb" -D "$dir/data" -A trust -U postgres --no-sync >"$dir/initdb.log" 2>&1 ||
        { cat "$dir/initdb.log" >&2; exit 1; }
    fi
    "${as[@]}" "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
      -o "-k $dir -c listen_addresses='' -c max_connections=200 -c shared_buffers=64MB" start >/dev/null ||
      { cat "$dir/server.log" >&2; exit 1; }
    echo "host=$dir user=postgres dbname=postgres"
    ;;
  stop | crash)
    mode=fast
    [ "$cmd" = crash ] && mode=immediate
    [ -d "$dir/data" ] && "${as[@]}" "$bin/pg_ctl" -D "$dir/data" -m $mode -w stop >/dev/null 2>&1 || true
    ;;
  *) echo "usage: $0 start|stop|crash DIR" >&2; exit 2 ;;
esac
