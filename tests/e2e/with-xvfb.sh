#!/usr/bin/env bash
# Runs one test program under a private Xvfb (and, with PMR_TEST_WM set, a window
# manager, e.g. PMR_TEST_WM="xfwm4 --compositor=on"); stops both afterwards.
set -uo pipefail
# The server chooses a free display itself and writes its number once it accepts
# connections (-displayfd): two runs started at the same moment never pick the same
# number and end up sharing one server that the first to finish takes down.
numfile=$(mktemp)
Xvfb -displayfd 3 -screen 0 ${PMR_XVFB_SCREEN:-1920x1080x24} -nolisten tcp +extension RANDR \
  3>"$numfile" >/dev/null 2>&1 &
xvfb=$!
# The limit only ends a server that never comes up.
for _ in $(seq 1200); do
  [ "$(wc -l <"$numfile")" -ge 1 ] && break
  kill -0 $xvfb 2>/dev/null || break
  sleep 0.05
done
n=$(tr -dc 0-9 <"$numfile")
rm -f "$numfile"
if [ -z "$n" ]; then
  echo "with-xvfb: Xvfb did not start" >&2
  kill $xvfb 2>/dev/null
  exit 1
fi
export DISPLAY=:$n
unset WAYLAND_DISPLAY
wm=""
if [ -n "${PMR_TEST_WM:-}" ]; then
  $PMR_TEST_WM >/dev/null 2>&1 &
  wm=$!
  sleep 1
fi
"$@"
rc=$?
[ -n "$wm" ] && kill $wm 2>/dev/null
kill $xvfb 2>/dev/null
wait 2>/dev/null
exit $rc
