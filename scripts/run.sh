#!/usr/bin/env bash
# Installs what is missing, builds and installs Paneveil, and starts its
# helper on the session bus.
#  - In a desktop session: the helper is registered with the session bus,
#    started on demand, and `paneveil watch` shows what it broadcasts
#    (Control+C to stop watching; the helper keeps running).
#  - With no display at all: a virtual X session with its own bus is started,
#    the helper is driven through `paneveil` there, and everything is stopped.
# PANEVEIL_PREFIX chooses the install prefix (default: ~/.local).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

prefix=${PANEVEIL_PREFIX:-$HOME/.local}
build=build/run
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX="$prefix" -DPANEVEIL_BUILD_TESTS=OFF
cmake --build "$build" -j"$(nproc)"
cmake --install "$build" >/dev/null
echo "Installed into $prefix"

# Unlocking checks the password through the PAM service "paneveil"; putting
# it into /etc/pam.d needs root (the install does it itself when run as root).
pam_service="$prefix/share/paneveil/pam.d/paneveil"
if ! cmp -s "$pam_service" /etc/pam.d/paneveil; then
    echo "Installing the PAM service /etc/pam.d/paneveil (needs root)"
    sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    "${sudo[@]}" install -m 644 "$pam_service" /etc/pam.d/paneveil
fi

# Let the user's session bus start the helper on demand.
services="${XDG_DATA_HOME:-$HOME/.local/share}/dbus-1/services"
mkdir -p "$services"
cp "$prefix/share/paneveil/dbus-1/services/com.zelquor.Paneveil.helper.service" "$services/"

paneveil="$prefix/bin/paneveil"
if [ -n "${DISPLAY:-}" ] && { [ -n "${DBUS_SESSION_BUS_ADDRESS:-}" ] || [ -S "${XDG_RUNTIME_DIR:-/nonexistent}/bus" ]; }; then
    dbus-send --session --type=method_call --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.ReloadConfig
    "$paneveil" version
    echo "Paneveil's helper is running. Try '$paneveil lock' in another terminal."
    echo "Watching its broadcasts (Control+C to stop watching):"
    exec "$paneveil" watch
fi

echo "No desktop session here: starting a virtual X session with its own session bus."
demo=$(cat <<DEMO
set -u
echo "\$ paneveil version";     "$paneveil" version
echo "\$ paneveil status";      "$paneveil" status
echo "\$ paneveil permissions"; "$paneveil" permissions
echo "\$ paneveil lock";        "$paneveil" lock
echo "\$ paneveil status";      "$paneveil" status
import -window root /tmp/paneveil-locked.png 2>/dev/null && echo "(screenshot while locked: /tmp/paneveil-locked.png)"
DEMO
)
xvfb-run -a -s "-screen 0 1280x800x24" dbus-run-session -- bash -c "$demo"
