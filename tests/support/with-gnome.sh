#!/usr/bin/env bash
# Runs one test program inside a private, headless GNOME Shell (Wayland)
# session, and stops everything it started afterwards.
#
#   with-gnome.sh [--portal] COMMAND...
#
# The session gets its own mount namespace (a tmpfs over /run/systemd hides
# the host's logind state, which the shell refuses to start with), its own
# system and session buses, HOME and XDG directories, and a Wayland display.
# With --portal it also runs PipeWire and WirePlumber; xdg-desktop-portal and
# its GNOME backend are started by the session bus on first use.
#
# The test program gets WAYLAND_DISPLAY, XDG_CURRENT_DESKTOP=GNOME,
# XDG_SESSION_TYPE=wayland, the buses, PMR_GNOME_DIR (the session's private
# directory) and PMR_GNOME_CTL (this script), through which it controls the
# session while it runs:
#
#   "$PMR_GNOME_CTL" ctl shell-stop      stop the shell (SIGTERM), wait until it is gone
#   "$PMR_GNOME_CTL" ctl shell-kill      kill the shell (SIGKILL), wait until it is gone
#   "$PMR_GNOME_CTL" ctl shell-start     start the shell again, wait until it answers
#   "$PMR_GNOME_CTL" ctl pipewire-stop   stop PipeWire and WirePlumber
#
# Exit status: the test program's; 77 when no session could be started
# (not root, or the shell is not installed).
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
self="$here/$(basename "$0")"

# Running and not a zombie.
alive() { [ -r "/proc/$1/status" ] && ! grep -q '^State:[[:space:]]*Z' "/proc/$1/status" 2>/dev/null; }
shell_alive() { [ -f "$PMR_GNOME_DIR/shell.pid" ] && alive "$(cat "$PMR_GNOME_DIR/shell.pid")"; }

shell_answers() {
  gdbus call --session --timeout 2 --dest org.gnome.Shell --object-path /org/gnome/Shell \
    --method org.freedesktop.DBus.Properties.Get org.gnome.Shell ShellVersion >/dev/null 2>&1
}

# Fully started: extensions loaded (the test extension allows Eval) and the
# start-up animation over.
shell_started() {
  gdbus call --session --timeout 2 --dest org.gnome.Shell --object-path /org/gnome/Shell \
    --method org.gnome.Shell.Eval '!Main.layoutManager._startingUp' 2>/dev/null | grep -q "(true, 'true')"
}

shell_start() {
  # The shell leaves this file for a minute after each start and, finding it,
  # takes a restart for a crash loop and keeps user extensions off.
  rm -f "$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY" "$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY.lock" \
    "$XDG_RUNTIME_DIR/gnome-shell-disable-extensions"
  gnome-shell --headless --wayland --no-x11 --wayland-display "$WAYLAND_DISPLAY" \
    --virtual-monitor 1280x800 </dev/null >>"$PMR_GNOME_DIR/shell.log" 2>&1 &
  echo $! >"$PMR_GNOME_DIR/shell.pid"
  for _ in $(seq 300); do
    shell_alive || { echo "with-gnome: the shell ended while starting" >&2; tail -20 "$PMR_GNOME_DIR/shell.log" >&2; return 1; }
    if [ -S "$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY" ] && shell_started; then
      # The shell opens the overview at login; tests start on the desktop.
      gdbus call --session --timeout 5 --dest org.gnome.Shell --object-path /org/gnome/Shell \
        --method org.gnome.Shell.Eval 'Main.overview.hide(); true' >/dev/null 2>&1
      for _ in $(seq 100); do
        gdbus call --session --timeout 2 --dest org.gnome.Shell --object-path /org/gnome/Shell \
          --method org.gnome.Shell.Eval '!Main.overview.visible' 2>/dev/null | grep -q "(true, 'true')" && return 0
        sleep 0.1
      done
      return 0
    fi
    sleep 0.1
  done
  echo "with-gnome: the shell did not answer" >&2
  return 1
}

shell_stop() {
  local sig=$1 pid
  [ -f "$PMR_GNOME_DIR/shell.pid" ] || return 0
  pid=$(cat "$PMR_GNOME_DIR/shell.pid")
  kill "-$sig" "$pid" 2>/dev/null
  for _ in $(seq 200); do alive "$pid" || break; sleep 0.05; done
  kill -KILL "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  rm -f "$PMR_GNOME_DIR/shell.pid"
  for _ in $(seq 100); do shell_answers || return 0; sleep 0.05; done
  return 1
}

if [ "${1:-}" = "ctl" ]; then
  case "${2:-}" in
    shell-stop) shell_stop TERM ;;
    shell-kill) shell_stop KILL ;;
    shell-start) shell_start ;;
    pipewire-stop)
      for f in wireplumber pipewire; do
        [ -f "$PMR_GNOME_DIR/$f.pid" ] && kill "$(cat "$PMR_GNOME_DIR/$f.pid")" 2>/dev/null
        rm -f "$PMR_GNOME_DIR/$f.pid"
      done ;;
    *) echo "with-gnome: unknown control $2" >&2; exit 2 ;;
  esac
  exit $?
fi

portal=0
if [ "${1:-}" = "--portal" ]; then portal=1; shift; fi

if [ -z "${PMR_GNOME_INNER:-}" ]; then
  if [ "$(id -u)" -ne 0 ] || ! command -v gnome-shell >/dev/null; then
    echo "with-gnome: needs root and gnome-shell (scripts/packages/test.txt)" >&2
    exit 77
  fi
  # A process group of its own, so everything started below stops together.
  PMR_GNOME_INNER=1 exec setsid -w unshare -m --propagation private "$self" $([ $portal = 1 ] && echo --portal) "$@"
fi

mkdir -p /run/systemd && mount -t tmpfs tmpfs /run/systemd || { echo "with-gnome: cannot hide /run/systemd" >&2; exit 77; }

export PMR_GNOME_DIR
PMR_GNOME_DIR=$(mktemp -d /tmp/pmr-gnome-XXXXXX)
for d in home config data cache run; do mkdir -p "$PMR_GNOME_DIR/$d"; done
chmod 700 "$PMR_GNOME_DIR/run"
export HOME="$PMR_GNOME_DIR/home" XDG_CONFIG_HOME="$PMR_GNOME_DIR/config" XDG_DATA_HOME="$PMR_GNOME_DIR/data"
export XDG_CACHE_HOME="$PMR_GNOME_DIR/cache" XDG_RUNTIME_DIR="$PMR_GNOME_DIR/run"
export XDG_CURRENT_DESKTOP=GNOME XDG_SESSION_TYPE=wayland XDG_SESSION_DESKTOP=gnome
export WAYLAND_DISPLAY="pmr-gnome-$$" GDK_BACKEND=wayland PMR_GNOME_CTL="$self"
export NO_AT_BRIDGE=1 GTK_A11Y=none
unset DISPLAY DBUS_SESSION_BUS_ADDRESS

cleanup() {
  trap '' TERM INT HUP
  kill -TERM 0 2>/dev/null  # this process group: the shell, buses, services
  wait 2>/dev/null
  rm -rf "$PMR_GNOME_DIR"
}
trap 'cleanup' EXIT
trap 'exit 143' TERM INT HUP

cat >"$PMR_GNOME_DIR/system.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=$PMR_GNOME_DIR/system_bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/><allow own="*"/><allow send_type="method_call"/>
    <allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/>
  </policy>
</busconfig>
EOF
dbus-daemon --config-file="$PMR_GNOME_DIR/system.conf" --nofork --nopidfile >/dev/null 2>&1 &
export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$PMR_GNOME_DIR/system_bus"
dbus-daemon --session --address="unix:path=$PMR_GNOME_DIR/session_bus" --nofork --nopidfile >/dev/null 2>&1 &
export DBUS_SESSION_BUS_ADDRESS="unix:path=$PMR_GNOME_DIR/session_bus"
for _ in $(seq 100); do
  [ -S "$PMR_GNOME_DIR/system_bus" ] && [ -S "$PMR_GNOME_DIR/session_bus" ] && break
  sleep 0.05
done

# The shell loads user extensions; a test helper extension switches on the
# shell's unsafe mode so that tests can read window state through Eval.
mkdir -p "$XDG_DATA_HOME/gnome-shell/extensions"
cp -r "$here/gnome-test-extension" "$XDG_DATA_HOME/gnome-shell/extensions/pmr-test-eval@pellomar.test"
gsettings set org.gnome.shell disable-user-extensions false
gsettings set org.gnome.shell enabled-extensions "['pmr-test-eval@pellomar.test']"
gsettings set org.gnome.shell welcome-dialog-last-shown-version '999'
# Pointer moves into the top-left corner must not open the overview.
gsettings set org.gnome.desktop.interface enable-hot-corners false

shell_start || exit 77

if [ $portal = 1 ]; then
  dbus-update-activation-environment WAYLAND_DISPLAY XDG_CURRENT_DESKTOP XDG_RUNTIME_DIR XDG_SESSION_TYPE \
    HOME XDG_CONFIG_HOME XDG_DATA_HOME XDG_CACHE_HOME >/dev/null 2>&1
  # The portal's dialogs keep their accessibility on: tests answer them
  # through it (tests/support/gnome_screen_share.cpp).
  dbus-update-activation-environment GTK_A11Y=atspi NO_AT_BRIDGE=0 >/dev/null 2>&1
  # WirePlumber watches logind's directories and quits when they are
  # missing; the shell is up by now and no longer looks at them.
  mkdir -p /run/systemd/seats /run/systemd/sessions /run/systemd/users /run/systemd/machines
  pipewire >>"$PMR_GNOME_DIR/pipewire.log" 2>&1 &
  echo $! >"$PMR_GNOME_DIR/pipewire.pid"
  for _ in $(seq 100); do [ -S "$XDG_RUNTIME_DIR/pipewire-0" ] && break; sleep 0.05; done
  wireplumber >>"$PMR_GNOME_DIR/wireplumber.log" 2>&1 &
  echo $! >"$PMR_GNOME_DIR/wireplumber.pid"
  # The bus starts the portal on first use, which takes seconds: start it
  # now, as a desktop session would have, so tests meet a running portal.
  gdbus call --session --timeout 60 --dest org.freedesktop.portal.Desktop \
    --object-path /org/freedesktop/portal/desktop --method org.freedesktop.DBus.Properties.Get \
    org.freedesktop.portal.ScreenCast AvailableCursorModes >/dev/null 2>&1
fi

"$@"
rc=$?
if [ $rc -ne 0 ] && [ -n "${PMR_GNOME_LOGS:-}" ]; then tail -n 40 "$PMR_GNOME_DIR"/*.log >&2; fi
exit $rc
