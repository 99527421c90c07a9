#!/usr/bin/env bash
# Makes sure the Debian packages needed to build and test are installed (with the
# argument "windows": those of the Windows build).
# As root it installs what is missing; otherwise it names the packages in one line.
# PostgreSQL (the shared store of several machines) is optional: without it the
# Request Manager is built for SQLite only and the PostgreSQL tests are skipped.
set -eu
pkgs="cmake g++ make libgtest-dev libgmock-dev libbenchmark-dev libsqlite3-dev pkg-config clang libclang-rt-14-dev"
optional="libpq-dev postgresql"
# `tools/deps.sh windows`: what the Windows build and its checks under Wine need
# (make windows, make windows-check; GoogleTest's source comes with libgtest-dev).
if [ "${1:-}" = windows ]; then
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
