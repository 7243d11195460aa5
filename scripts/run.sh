#!/usr/bin/env bash
# Starts the program; without a display, starts a private Xvfb first and says so.
set -euo pipefail
exe=$1; shift
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  n=90
  while [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ]; do n=$((n + 1)); done
  Xvfb :$n -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb=$!
  trap 'kill $xvfb 2>/dev/null || true' EXIT
  for _ in $(seq 50); do [ -e /tmp/.X11-unix/X$n ] && break; sleep 0.1; done
  export DISPLAY=:$n
  echo "No screen here: Pellomar runs on the virtual display $DISPLAY; see it with: DISPLAY=$DISPLAY import -window root shot.png (ImageMagick); press Ctrl+C to stop it."
fi
"$exe" "$@"
