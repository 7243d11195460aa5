#!/bin/sh
# Runs a command with one busy loop per core beside it, the way a loaded
# desktop runs the tests; the loops end with the command, whatever its outcome.
#   scripts/with-load.sh make test
#   LOAD_LOOPS=4 scripts/with-load.sh ctest -R capture
set -u
if [ $# -eq 0 ]; then
  echo "usage: $0 command [args...]" >&2
  exit 2
fi
loops=${LOAD_LOOPS:-$(nproc)}
pids=""
stop() {
  for p in $pids; do kill "$p" 2>/dev/null; done
  for p in $pids; do wait "$p" 2>/dev/null; done
  pids=""
}
trap 'stop; exit 130' INT TERM HUP
i=0
while [ "$i" -lt "$loops" ]; do
  sh -c 'while :; do :; done' &
  pids="$pids $!"
  i=$((i + 1))
done
echo "with-load: $loops busy loop(s) beside: $*" >&2
"$@"
status=$?
stop
exit $status
