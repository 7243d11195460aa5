#!/usr/bin/env bash
# Runs one test program under a private Xvfb (and, with PMR_TEST_WM set, a window
# manager, e.g. PMR_TEST_WM="xfwm4 --compositor=on"); stops both afterwards.
set -uo pipefail
n=$(( 100 + ($$ % 400) ))
while [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ]; do n=$((n + 1)); done
Xvfb :$n -screen 0 ${PMR_XVFB_SCREEN:-1920x1080x24} -nolisten tcp +extension RANDR >/dev/null 2>&1 &
xvfb=$!
# Ready once it answers: the socket file appears a moment before the server
# accepts connections. The limit only ends a server that never comes up.
for _ in $(seq 1200); do xdpyinfo -display :$n >/dev/null 2>&1 && break; sleep 0.05; done
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
