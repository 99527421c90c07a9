#!/usr/bin/env bash
# A Request Manager run as a service outlives the closes of its applications, and
# qlm status and stop find it. qlm export then import into an empty data home
# gives back every entry, field,
# assignment and counter exactly (JSON Lines and CSV, with bytes that need quoting
# or escaping), and a Request Manager serves the imported data; qlm backup while an
# application writes, then qlm restore, keeps every write acknowledged before the
# backup began.
# Usage: data_test.sh QLM HELLO DAYBOOK
set -euo pipefail
qlm=$1 hello=$2 daybook=$3
base=$(mktemp -d /tmp/qd.XXXXXX)
trap 'rm -rf "$base"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
export HOME=$base XDG_DATA_HOME= XDG_STATE_HOME= XDG_RUNTIME_DIR= QLM_ROOTDIR=$base/root
unset QLM_DATA_HOME QLM_RUNDIR QLM_STORE
"$qlm" init "$QLM_ROOTDIR" >/dev/null
mkdir -m 700 "$base/svc"
QLM_RUNDIR=$base/svc "$QLM_ROOTDIR/bin/qlmrqmgr" --service 2>"$base/svc.log" &
service=$!
for i in $(seq 100); do grep -q "started as a service" "$base/svc.log" && break; sleep 0.1; done
for run in 1 2; do QLM_RUNDIR=$base/svc timeout 20 "$hello" >/dev/null || fail "an application of the service"; done
kill -0 $service || fail "the service ended with its application: $(cat "$base/svc.log")"
QLM_RUNDIR=$base/svc "$qlm" status | grep -q "Request Manager $service (service)" || fail "qlm status does not show the service"
QLM_RUNDIR=$base/svc "$qlm" stop $service | grep -q "$service .* ended" || fail "qlm stop did not end the service"
"$daybook" >"$base/day1.txt" || fail "daybook: $(cat "$base/day1.txt")"
# Values that JSON must escape and CSV must quote, and bytes above 127.
printf '%s\n' \
  '{"record":"entry","project":"","kind":"project","key":"Caf\u00e9","created":"20240101000000","changed":"20240102000000","fields":{"field454":"a \"quoted\", comma\nnew line \u0001 \u00ff"}}' \
  '{"record":"entry","project":"Caf\u00e9","kind":"address","key":"x,y","created":"20240101000000","changed":"20240101000000","fields":{"lastname":"\u00e9t\u00e9"}}' \
  >"$base/tricky.jsonl"
"$qlm" import "$base/tricky.jsonl" 2>/dev/null
"$qlm" export --output "$base/a.jsonl" 2>/dev/null
"$qlm" export --format csv --output "$base/a.csv" 2>/dev/null
grep -qF 'Caf\u00e9' "$base/a.jsonl" || fail "the bytes above 127 did not come back"
for f in jsonl csv; do
  QLM_DATA_HOME=$base/h-$f "$qlm" import "$base/a.$f" 2>/dev/null
  QLM_DATA_HOME=$base/h-$f "$qlm" export --output "$base/b-$f.jsonl" 2>/dev/null
  cmp "$base/a.jsonl" "$base/b-$f.jsonl" || fail "export of the $f import differs: $(diff "$base/a.jsonl" "$base/b-$f.jsonl" | head)"
done
"$qlm" import "$base/a.jsonl" 2>"$base/again.txt" && fail "importing into a full installation succeeded"
grep -q "exists already" "$base/again.txt" || fail "a second import does not say why it failed"
QLM_DATA_HOME=$base/h-jsonl "$daybook" >"$base/day2.txt" || fail "daybook on the imported data: $(grep FAIL "$base/day2.txt")"
grep -q "opened (it was there from an earlier run)" "$base/day2.txt" || fail "the imported project is not found"

# Backup while an application writes.
: >"$base/acked.txt"   # there before the loop below reads it (the writer opens it itself)
"$hello" write 300 >>"$base/acked.txt" &
writer=$!
while [ "$(wc -l <"$base/acked.txt")" -lt 30 ]; do kill -0 $writer 2>/dev/null || break; sleep 0.05; done
cp "$base/acked.txt" "$base/before.txt"
"$qlm" backup "$base/copy.db" 2>/dev/null
wait $writer || fail "the writer failed"
[ "$(wc -l <"$base/before.txt")" -ge 30 ] || fail "the writer wrote too little before the backup"
QLM_DATA_HOME=$base/h-restored "$qlm" restore "$base/copy.db" 2>/dev/null
QLM_DATA_HOME=$base/h-restored "$qlm" export --project Hello --format csv --output "$base/restored.csv" 2>/dev/null
while read -r key; do
  grep -q "^entry,Hello,address,$key," "$base/restored.csv" || fail "acknowledged write $key lost by backup and restore"
done <"$base/before.txt"
"$qlm" restore "$base/copy.db" 2>/dev/null   # online, into the installation's own database
"$qlm" export --project Hello --output /dev/null 2>/dev/null
echo "data test passed"
