#!/bin/sh
# Runs every libFuzzer program of a fuzz build for a set time each, starting
# from the corpus in the repository. New inputs go to <build>/fuzz-work/<name>
# (the repository's corpus is only read); crashes to <build>/fuzz-crashes/.
# Prints one line per target: "<name>_seconds: N", "<name>_runs: N",
# "<name>_crashes: N". Exits non-zero when any target failed.
#   scripts/fuzz.sh build-fuzz 60 [target...]
set -u
build=${1:?usage: $0 build-dir seconds [target...]}
seconds=${2:-60}
# Absolute: a target may change its working directory.
build=$(cd "$build" && pwd) || exit 2
shift 2 || shift $#
src=$(cd "$(dirname "$0")/.." && pwd)
names=$*
if [ -z "$names" ]; then
  for f in "$src"/fuzz/*_fuzz.cpp; do
    n=$(basename "$f" _fuzz.cpp)
    names="$names $n"
  done
fi
failed=0
mkdir -p "$build/fuzz-crashes"
for n in $names; do
  prog="$build/fuzz/$n"
  if [ ! -x "$prog" ]; then
    echo "fuzz: $prog is missing" >&2
    failed=1
    continue
  fi
  work="$build/fuzz-work/$n"
  mkdir -p "$work"
  log="$build/fuzz-work/$n.log"
  start=$(date +%s)
  "$prog" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -max_len=16384 \
    -print_final_stats=1 -artifact_prefix="$build/fuzz-crashes/$n-" \
    "$work" "$src/fuzz/corpus/$n" >"$log" 2>&1
  status=$?
  end=$(date +%s)
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  crashes=0
  if [ $status -ne 0 ]; then
    crashes=1
    failed=1
    echo "fuzz: $n failed (status $status), see $log" >&2
    grep -m 5 -E "ERROR|fuzz check failed|runtime error" "$log" >&2
  fi
  echo "${n}_seconds: $((end - start))"
  echo "${n}_runs: ${runs:-0}"
  echo "${n}_crashes: $crashes"
done
exit $failed
