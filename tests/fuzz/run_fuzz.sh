#!/usr/bin/env bash
# Makes the seed corpus, then fuzzes for SECONDS seconds. Exits non-zero when
# libFuzzer found a crash, a sanitizer report, a hang or an excessive
# allocation; its log and the failing input stay in WORK.
#   run_fuzz.sh MAKE_SEEDS FUZZER WORK SECONDS [SEED_KIND]
# SEED_KIND (companions, schema) chooses the seeds of that target.
set -euo pipefail
make_seeds="$1" fuzzer="$2" work="$3" seconds="$4" kind="${5:-}"
rm -rf "$work"
mkdir -p "$work/seeds" "$work/corpus"
"$make_seeds" "$work/seeds" $kind
# New inputs go to corpus/, the seeds stay as they are. The engine's
# "SQL error" lines are many; the log keeps them out of the test output.
status=0
"$fuzzer" "$work/corpus" "$work/seeds" \
  -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=512 \
  -max_len=70000 -print_final_stats=1 -artifact_prefix="$work/" \
  >"$work/fuzz.log" 2>&1 || status=$?
if [ "$status" -ne 0 ]; then
  echo "fuzzing failed (status $status); log: $work/fuzz.log" >&2
  grep -v '^SQL error' "$work/fuzz.log" | tail -n 80 >&2
  ls "$work"/crash-* "$work"/timeout-* "$work"/oom-* "$work"/leak-* 2>/dev/null >&2 || true
  exit 1
fi
grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)|cov: ' "$work/fuzz.log" | grep -v '^SQL error' | tail -n 4
