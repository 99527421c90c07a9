#!/usr/bin/env bash
# The installation as a user meets it: `cmake --install` into a temporary prefix;
# the layout (server under libexec, nothing executable under share, one version);
# a C-only program of one's own built from outside the tree with pkg-config and
# with find_package (shared and static) and run against the installed root; the
# same program run by a second user (when root, with runuser or setpriv), who gets
# private data; and `qlm doctor` naming the cause of each broken root.
# Usage: install_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1 src=$2
base=$(mktemp -d /tmp/qi.XXXXXX)   # short: the root below must stay within 39 characters
trap 'rm -rf "$base"' EXIT
chmod 755 "$base"
fail() { echo "FAIL: $*" >&2; exit 1; }
expect() {  # expect TEXT COMMAND...: the command's output holds TEXT
  local text=$1 out; shift
  out=$("$@" 2>&1) || true
  grep -qF -- "$text" <<<"$out" || fail "'$*' does not say '$text'; it said: $out"
}
prefix=$base/p
export HOME=$base/home XDG_DATA_HOME= XDG_STATE_HOME= XDG_RUNTIME_DIR=
mkdir -p "$HOME"
unset QLM_ROOTDIR QLM_DATA_HOME QLM_RUNDIR QLM_STORE
cmake --install "$build" --prefix "$prefix" >/dev/null

# Layout and version.
root=$prefix/share/quillmar
[ -x "$prefix/libexec/quillmar/qlmrqmgr" ] || fail "no server under libexec"
[ -x "$root/bin/qlmrqmgr" ] || fail "the root's bin/ does not lead to the server"
[ -z "$(find "$prefix/share" -type f -perm /111)" ] || fail "executables under share: $(find "$prefix/share" -type f -perm /111)"
libdir=$(PKG_CONFIG_PATH=$(dirname "$(find "$prefix" -name qlmc32.pc)") pkg-config --variable=libdir qlmc32)
objdump -p "$libdir/libqlmc32.so" | grep -q "SONAME *libqlmc32.so.6$" || fail "SONAME is not libqlmc32.so.6"
[ -e "$libdir/libqlmc32.so.6.1.0" ] || fail "no libqlmc32.so.6.1.0"
for f in man/man1/qlm.1 man/man1/qlmrqmgr.1 man/man3/qlmc32.3 bash-completion/completions/qlm; do
  [ -s "$prefix/share/$f" ] || fail "no $f"
done
grep -q "^ExecStart=$prefix/libexec/quillmar/qlmrqmgr --service" "$prefix/lib/systemd/user/qlmrqmgr.service" ||
  fail "the systemd user unit does not start the installed server"
"$prefix/bin/qlm" --version | grep -q "6.1.0" || fail "qlm --version"

# A program of one's own: pkg-config, and find_package shared and static.
export PKG_CONFIG_PATH=$libdir/pkgconfig
cc -std=c99 -Wall -Werror "$src/tests/install/app/hello.c" -o "$base/hello-pc" $(pkg-config --cflags --libs qlmc32)
for kind in shared static; do
  opt=OFF; [ $kind = static ] && opt=ON
  cmake -S "$src/tests/install/app" -B "$base/app-$kind" -DCMAKE_PREFIX_PATH="$prefix" -DHELLO_STATIC=$opt >/dev/null
  cmake --build "$base/app-$kind" >/dev/null || fail "find_package ($kind) build"
done
export QLM_ROOTDIR=$root
LD_LIBRARY_PATH=$libdir "$base/hello-pc" | grep -q "hello: 1 addresses" || fail "pkg-config program"
LD_LIBRARY_PATH=$libdir "$base/app-shared/hello" | grep -q "hello: 1 addresses" || fail "find_package shared program"
env -u LD_LIBRARY_PATH "$base/app-static/hello" | grep -q "hello: 1 addresses" || fail "find_package static program"

# A second user of the same installation gets private data under their home.
as=""
if [ "$(id -u)" = 0 ] && id nobody >/dev/null 2>&1; then
  if command -v runuser >/dev/null; then as="runuser -u nobody --"
  elif command -v setpriv >/dev/null; then as="setpriv --reuid=nobody --regid=nogroup --clear-groups"; fi
fi
if [ -n "$as" ]; then
  mkdir -p "$base/nobody" && chown nobody "$base/nobody"
  chmod -R go+rX "$base"
  other() { $as env HOME="$base/nobody" USER=nobody QLM_ROOTDIR="$root" LD_LIBRARY_PATH="$libdir" "$@"; }
  other "$base/hello-pc" | grep -q "hello: 1 addresses" || fail "second user: $(other "$base/hello-pc" 2>&1)"
  ls "$base"/nobody/.local/share/quillmar/*/data/quillmar.db >/dev/null || fail "second user's data is not private"
  # The root's data directory is the first user's: doctor says so to the second user.
  printf '[Data]\nHome=root\n' >>"$root/quillmar.ini"
  expect "is not writable by you" other "$prefix/bin/qlm" doctor
else
  echo "note: no second user (not root, or neither runuser nor setpriv)"
fi

# qlm doctor names the cause of each broken root; QLM_DEBUG names it for the library.
qlm=$prefix/bin/qlm
[ -e /etc/quillmar/6.1/RootDir ] || expect "no installation root is set" env -u QLM_ROOTDIR "$qlm" doctor
expect "does not exist" env QLM_ROOTDIR="$base/none" "$qlm" doctor
expect "more than 39 characters" env QLM_ROOTDIR="$base/a-root-whose-path-is-far-too-long-for-it" "$qlm" doctor
"$qlm" init --server "$prefix/libexec/quillmar/qlmrqmgr" --ini "$src/data/quillmar.ini" "$base/r" >/dev/null
rm "$base/r/bin/qlmrqmgr"
expect "there is no server program" env QLM_ROOTDIR="$base/r" "$qlm" doctor
expect "qlmc32: open: starting the Request Manager" env QLM_ROOTDIR="$base/r" QLM_DEBUG=1 LD_LIBRARY_PATH="$libdir" "$base/hello-pc"
"$qlm" init --server "$prefix/libexec/quillmar/qlmrqmgr" --ini "$src/data/quillmar.ini" "$base/r" >/dev/null
touch "$base/file"
expect "cannot be made" env QLM_ROOTDIR="$base/r" QLM_DATA_HOME="$base/file/home" "$qlm" doctor
expect "No problems found" env QLM_ROOTDIR="$base/r" "$qlm" doctor
echo "install test passed"
