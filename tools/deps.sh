#!/usr/bin/env bash
# Makes sure the Debian packages needed to build and test are installed.
# As root it installs what is missing; otherwise it names the packages in one line.
set -eu
pkgs="cmake g++ make libgtest-dev libgmock-dev libbenchmark-dev libsqlite3-dev pkg-config clang libclang-rt-14-dev"
missing=""
for p in $pkgs; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
if [ "$(id -u)" = 0 ]; then
  echo "Installing:$missing"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq && apt-get install -y -qq $missing >/dev/null
else
  echo "Missing Debian packages; install them with: sudo apt-get install$missing" >&2
  exit 1
fi
