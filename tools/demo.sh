#!/usr/bin/env bash
# Lays out an installation root under the build directory with `qlm init` and runs
# the sample application against the real Request Manager. The demo's data stays
# under its root (build/root/data), since that root is the user's own.
set -eu
build=${1:-build}
root="$(cd "$build" && pwd)/root"
"$build/tools/qlm/qlm" init "$root" >/dev/null
# The installation root may hold at most 39 characters: use a short link when needed.
if [ ${#root} -gt 38 ]; then
  link="/tmp/qlm-demo-$(id -u)"
  if [ -e "$link" ] && { [ ! -L "$link" ] || [ "$(stat -c %u "$link")" != "$(id -u)" ]; }; then
    echo "$link exists and is not a link of yours: remove it, or use a build directory with a shorter path" >&2
    exit 1
  fi
  ln -sfn "$root" "$link"
  root="$link"
fi
echo "Installation root: $root  (database: $root/data/quillmar.db)"
echo
QLM_ROOTDIR="$root" exec "$build/examples/qlm_daybook"
