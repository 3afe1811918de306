#!/bin/sh
# Runs a test program with a desktop keyring of its own: a private session
# bus listening where a logged-in user's bus listens ($XDG_RUNTIME_DIR/bus),
# and gnome-keyring-daemon on it with an unlocked default keyring. The bus,
# the keyring and their folders go when the program ends.
set -eu
program=$1
shift
for tool in dbus-run-session dbus-daemon dbus-send gnome-keyring-daemon secret-tool; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "with_keyring: $tool is not installed (apt-get install dbus gnome-keyring libsecret-tools)" >&2
    # Under CI every tool is installed: a missing one is a failure, not a skip.
    if [ "${CI:-}" = true ]; then exit 1; fi
    exit 77
  fi
done
scratch=$(mktemp -d /tmp/qm-keyring.XXXXXX)
trap 'rm -rf "$scratch"' EXIT INT TERM
mkdir -m 700 "$scratch/home" "$scratch/runtime"
cat >"$scratch/bus.conf" <<XML
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=$scratch/runtime/bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
XML
export HOME="$scratch/home" XDG_RUNTIME_DIR="$scratch/runtime"
export XDG_DATA_HOME="$scratch/home/.local/share" XDG_CONFIG_HOME="$scratch/home/.config"
# The password on standard input unlocks (and creates) the login keyring
# without a prompt.
status=0
dbus-run-session --config-file="$scratch/bus.conf" -- sh -c '
  eval "$(printf x | gnome-keyring-daemon --unlock --components=secrets --daemonize)" >/dev/null
  # The daemon may take its name on the bus a moment after it detached.
  tries=0
  until dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
      org.freedesktop.DBus.NameHasOwner string:org.freedesktop.secrets 2>/dev/null |
      grep -q "boolean true"; do
    tries=$((tries + 1))
    if [ "$tries" -gt 100 ]; then echo "with_keyring: no keyring on the bus" >&2; exit 1; fi
    sleep 0.1
  done
  "$@"
' with_keyring "$program" "$@" || status=$?
exit "$status"
