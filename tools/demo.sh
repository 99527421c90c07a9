#!/usr/bin/env bash
# Lays out an installation root under the build directory and runs the sample
# application against the real Request Manager.
set -eu
build=${1:-build}
root="$(cd "$build" && pwd)/root"
# Private to the user: the database and the log live under data/.
(umask 077 && mkdir -p "$root/bin" "$root/shared" "$root/data")
chmod 700 "$root/data"
ln -sf "$(cd "$build" && pwd)/rqmgr/qlmrqmgr" "$root/bin/qlmrqmgr"
cp data/errortxt.fil "$root/shared/errortxt.fil"
[ -f "$root/quillmar.ini" ] || cp data/quillmar.ini "$root/quillmar.ini"
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
