#!/usr/bin/env bash
# Two installations, as two machines have them, sharing one PostgreSQL database:
# a throwaway cluster in /tmp, a database "quillmar", and the roots east/ and west/,
# each with its own Request Manager. West joins (its logon makes mailbox WEST known),
# east adds addresses and sends a file to WEST, west lists east's addresses and
# receives the file. Everything is removed at the end
# unless KEEP=1.
set -eu
build=${1:-build}
build=$(cd "$build" && pwd)
tools/pg-cluster.sh available || {
  echo "PostgreSQL's server is not installed: apt-get install postgresql (as root, make demo-cluster installs it)" >&2
  exit 1
}
grep -q "^QLM_WITH_POSTGRES:INTERNAL=1" "$build/CMakeCache.txt" ||
  { echo "The Request Manager in $build was built without PostgreSQL: install libpq-dev and build again" >&2; exit 1; }
base=$(mktemp -d /tmp/qlmc-XXXXXX)   # short: an installation root holds at most 39 characters
chmod 755 "$base"                    # the cluster's own user (postgres, under root) reaches its socket
cluster="$base/pg"
cleanup() {
  tools/pg-cluster.sh stop "$cluster"
  if [ "${KEEP:-0}" = 1 ]; then echo "Kept: $base"; else rm -rf "$base"; fi
}
trap cleanup EXIT
echo "Starting a PostgreSQL cluster in $cluster"
admin=$(tools/pg-cluster.sh start "$cluster")
psql_bin=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -n 1)/psql
"$psql_bin" -q -d "$admin" -c "CREATE DATABASE quillmar" >/dev/null
conninfo="host=$cluster user=postgres dbname=quillmar"
for r in east west; do
  root="$base/$r"
  (umask 077 && mkdir -p "$root/bin" "$root/shared" "$root/data")
  ln -sf "$build/rqmgr/qlmrqmgr" "$root/bin/qlmrqmgr"
  cp data/errortxt.fil "$root/shared/errortxt.fil"
  cp data/quillmar.ini "$root/quillmar.ini"
  printf '\n[Store]\nBackend=postgresql\nConninfo=%s\n' "$conninfo" >>"$root/quillmar.ini"
done
echo "Both installations keep their data in: $conninfo"
echo
status=0
QLM_ROOTDIR="$base/west" "$build/examples/qlm_cluster" join || status=1
echo
QLM_ROOTDIR="$base/east" "$build/examples/qlm_cluster" east || status=1
echo
QLM_ROOTDIR="$base/west" "$build/examples/qlm_cluster" west || status=1
exit $status
