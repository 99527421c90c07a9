#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for SECONDS each, one after the other, on a
# corpus kept in the build directory and seeded by the seed maker. Prints one line
# per target with its executions; fails when a target found a fault (its crash
# file is left in the build directory's fuzz/findings).
#   tools/fuzz.sh BUILD SECONDS [TARGET...]
set -u
build=${1:?build directory}
seconds=${2:?seconds per target}
shift 2
targets=${*:-request reader frame}
work="$build/fuzz-work"
mkdir -p "$work/findings"
rm -rf "$work/seeds"
"$build/fuzz/qlm_fuzz_seeds" "$work/seeds" >/dev/null || exit 1
status=0
for t in $targets; do
  corpus="$work/corpus/$t"
  mkdir -p "$corpus"
  log="$work/$t.log"
  extra=""
  # The request target's Request Manager keeps state from one input to the next (open
  # contexts, prepared statements), so libFuzzer's leak check after each input would
  # scan the whole heap after most inputs; leaks are looked for when it ends instead.
  [ "$t" = request ] && extra="-detect_leaks=0"
  # Requests name files that the Request Manager's network reads and writes: as root,
  # that target runs as an unprivileged user, who owns its corpus and findings.
  as=""
  if [ "$t" = request ] && [ "$(id -u)" = 0 ] && command -v setpriv >/dev/null; then
    chown -R 65534:65534 "$corpus" "$work/findings"
    chmod 755 "$work" "$work/seeds" "$work/seeds/$t"
    chmod 644 "$work/seeds/$t"/*
    as="setpriv --reuid=65534 --regid=65534 --clear-groups"
  fi
  $as "$build/fuzz/qlm_fuzz_$t" $extra -max_total_time="$seconds" -print_final_stats=1 -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$work/findings/$t-" "$corpus" "$work/seeds/$t" >"$log" 2>&1
  rc=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  echo "fuzz $t: ${runs:-?} executions in ${seconds}s, exit $rc"
  if [ $rc -ne 0 ]; then
    status=1
    grep -E "ERROR|SUMMARY|==[0-9]+==" "$log" | head -20
  fi
done
exit $status
