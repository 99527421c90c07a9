#!/usr/bin/env bash
# Makes sure the packages needed are there: `deps.sh build` for building the
# library, the server and qlm (make demo, make install), `deps.sh check` for the
# tests and benchmarks too (make check), `deps.sh windows` for the Windows build
# and its checks under Wine (make windows, make windows-check; GoogleTest's source
# comes with libgtest-dev).
# On Debian and Ubuntu (dpkg-query) it installs what is missing when run as root,
# and otherwise names the packages in one line. On any other system it only
# advises and lets CMake judge what is there.
# PostgreSQL (the shared store of several machines) is optional: without it the
# Request Manager is built for SQLite only and the PostgreSQL tests are skipped.
set -eu
mode=${1:-check}
pkgs="cmake g++ make libsqlite3-dev pkg-config python3"
[ "$mode" = check ] && pkgs="$pkgs libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev"
optional="libpq-dev postgresql"
if ! command -v dpkg-query >/dev/null 2>&1; then
  [ "$mode" = check ] && tests=", GoogleTest with GoogleMock (and Google Benchmark)" || tests=""
  echo "Note: not a Debian system; make sure CMake >= 3.25, a C++20 compiler, SQLite 3 with its headers," \
       "pkg-config, Python 3$tests are installed (libpq for PostgreSQL). CMake says what it misses." >&2
  exit 0
fi
if [ "$mode" = windows ]; then
  pkgs="cmake make libgtest-dev g++-mingw-w64-x86-64 wine wine64"
  optional=""
fi
missingOf() {
  local p out=""
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || out="$out $p"
  done
  echo "$out"
}
missing=$(missingOf $pkgs)
extra=$(missingOf $optional)
[ -z "$missing$extra" ] && exit 0
if [ "$(id -u)" = 0 ]; then
  echo "Installing:$missing$extra"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq && apt-get install -y -qq --no-install-recommends $missing $extra >/dev/null
elif [ -n "$missing" ]; then
  echo "Missing Debian packages; install them with: sudo apt-get install$missing$extra" >&2
  exit 1
else
  echo "Note: without$extra the PostgreSQL store is not built or tested (sudo apt-get install$extra)" >&2
fi
