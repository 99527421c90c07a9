#!/usr/bin/env bash
# The checks of the Windows build (make windows-check), headless under Wine:
#   1. qlmc32.dll exports exactly the functions the header marks QLM_API, and
#      imports only the system's KERNEL32, USER32, ADVAPI32 and msvcrt;
#   2. the Windows tests (tests/windows) pass;
#   3. the sample's day runs against qlmrqmgr.exe through the real DDEML: adds,
#      lists, an explained error, the close, and the server ends;
#   4. FreeLibrary of the DLL with the interface open shuts the server down (DllMain),
#      and a server whose application is killed ends by itself;
#   5. the round trip (bench/roundtrip.c) of the Windows build, beside the Linux
#      build's when that one is built.
# Wine runs in a prefix of its own in a temporary directory, with the null display
# driver; everything it started is ended at the end.
#
#   tools/windows-check.sh [windows build dir] [linux build dir]
set -euo pipefail
win=$(cd "${1:-build-windows}" && pwd)
linux=${2:-build}
src=$(cd "$(dirname "$0")/.." && pwd)
objdump=x86_64-w64-mingw32-objdump
fail() { echo "windows-check: $*" >&2; exit 1; }

echo "== exports of qlmc32.dll"
grep -oE '^QLM_API[^;(]*\b\w+\s*\(' "$src/include/qlmc32.h" | grep -oE '\w+\s*\($' | tr -d ' (' | sort -u >"$win/api.txt"
$objdump -p "$win/qlmc32.dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | sed -nE 's/^\s*\[\s*[0-9]+\] +(\S+)$/\1/p' | sort >"$win/exports.txt"
diff -u "$win/api.txt" "$win/exports.txt" || fail "the DLL's exports differ from the API (- API only, + exported only)"
imports=$($objdump -p "$win/qlmc32.dll" | awk '/DLL Name:/ {print toupper($3)}' | sort | tr '\n' ' ')
[ "$imports" = "ADVAPI32.DLL KERNEL32.DLL MSVCRT.DLL USER32.DLL " ] || fail "unexpected imports: $imports"
echo "$(wc -l <"$win/exports.txt") functions exported, imports: $imports"

tmp=$(mktemp -d /tmp/qlmw.XXXXXX)
export WINEPREFIX="$tmp/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() { wineserver -k 2>/dev/null || true; rm -rf "$tmp"; }
trap cleanup EXIT
wineboot -i >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
# The installation root: Z: is the Unix root under Wine. At most 39 characters.
root="Z:$tmp/"
wine reg add 'HKLM\Software\Ostrane\Quillmar\6.1' /v RootDir /d "$root" /f >/dev/null 2>&1
wineserver -k  # the desktop of the next start takes the null driver
mkdir -p "$tmp/bin" "$tmp/shared"
cp "$win/qlmc32.dll" "$win/rqmgr/qlmrqmgr.exe" "$win/examples/qlm_daybook.exe" "$win/bench/qlm_roundtrip.exe" "$tmp/bin/"
cp "$src/data/errortxt.fil" "$tmp/shared/"
cp "$src/data/quillmar.ini" "$tmp/"

echo "== Windows tests"
(cd "$win/tests/windows" && timeout 300 wine qlm_windows_tests.exe --gtest_brief=1) || fail "the Windows tests failed"

echo "== the sample's day under Wine"
(cd "$tmp/bin" && QLM_ROOTDIR="$root" timeout 300 wine qlm_daybook.exe) >"$tmp/day.out" 2>"$tmp/day.err" || { cat "$tmp/day.out" "$tmp/day.err"; fail "the day failed"; }
for expected in "All steps done." "  ok    interface closed (Request Manager ended)" "  ok    projects listed:" \
                "          Daybook  The sample application's project" \
                "    message:     A required record pointer is null"; do
  grep -qF "$expected" "$tmp/day.out" || { cat "$tmp/day.out"; fail "the day did not show: $expected"; }
done
# The window goes first (the close waits for that), the log's last line a moment later.
for _ in $(seq 50); do
  tail -n 1 "$tmp/data/qlmrqmgr.log" | grep -q 'qlmrqmgr\[[0-9]*\]: ended$' && break
  sleep 0.2
done
tail -n 1 "$tmp/data/qlmrqmgr.log" | grep -q 'qlmrqmgr\[[0-9]*\]: ended$' || { cat "$tmp/data/qlmrqmgr.log"; fail "the server did not end"; }
echo "$(grep -c '^  ok' "$tmp/day.out") steps ok; the server ended"
# The next step starts a server of its own: the last one's process must be gone
# (its window and lock go with it), not only its log finished.
for _ in $(seq 50); do
  pgrep -f 'qlmrqmgr\.exe' >/dev/null || break
  sleep 0.2
done

echo "== the DLL unloaded with the interface open"
: >"$tmp/data/qlmrqmgr.log"
cp "$win/tests/windows/qlm_unload_test.exe" "$tmp/bin/"
(cd "$tmp/bin" && timeout 120 wine qlm_unload_test.exe qlmc32.dll 2>"$tmp/unload.err") ||
  { status=$?; grep qlm_unload_test "$tmp/unload.err"; fail "the unload failed (status $status)"; }
grep -q 'shutdown request: ending' "$tmp/data/qlmrqmgr.log" || { cat "$tmp/data/qlmrqmgr.log"; fail "no shutdown at the unload"; }
echo "FreeLibrary shut the server down"

echo "== a killed application leaves no server behind"
: >"$tmp/data/qlmrqmgr.log"
(cd "$tmp/bin" && QLM_ROOTDIR="$root" exec wine qlm_roundtrip.exe 100000000 >/dev/null 2>&1) &
app=$!
for _ in $(seq 100); do grep -q 'connected' "$tmp/data/qlmrqmgr.log" && break; sleep 0.2; done
kill -9 "$app"
wait "$app" 2>/dev/null || true
for _ in $(seq 50); do tail -n 1 "$tmp/data/qlmrqmgr.log" | grep -q ': ended$' && break; sleep 0.2; done
grep -q 'has ended: ending' "$tmp/data/qlmrqmgr.log" && tail -n 1 "$tmp/data/qlmrqmgr.log" | grep -q ': ended$' ||
  { cat "$tmp/data/qlmrqmgr.log"; fail "the server did not end after its application was killed"; }
echo "the server ended"

echo "== round trip"
(cd "$tmp/bin" && QLM_ROOTDIR="$root" timeout 300 wine qlm_roundtrip.exe 2000 2>/dev/null) | sed 's/^/Windows (Wine, DDEML): /'
if [ -x "$linux/bench/qlm_roundtrip" ] && [ -x "$linux/rqmgr/qlmrqmgr" ]; then
  lroot=$(mktemp -d /tmp/qlml.XXXXXX)
  (umask 077 && mkdir -p "$lroot/bin" "$lroot/shared")
  ln -s "$(cd "$linux" && pwd)/rqmgr/qlmrqmgr" "$lroot/bin/qlmrqmgr"
  cp "$src/data/errortxt.fil" "$lroot/shared/"
  QLM_ROOTDIR="$lroot/" "$linux/bench/qlm_roundtrip" 2000 2>/dev/null | sed 's/^/Linux (POSIX transport): /' || true
  rm -rf "$lroot"
fi
