#!/usr/bin/env bash
# Installs what is missing, builds and installs Paneveil, and starts it.
#  - In a desktop session: the app starts in this session (lock icon in the
#    system tray, Control+Super+L / Control+Super+U); it registers its helper,
#    which the session bus starts on demand.
#  - With no display at all: a virtual X session of its own (Xvfb, a
#    compositor, a tray, a session bus) runs the app, opens its popover,
#    locks with Control+Super+L, saves screenshots before and while locked,
#    says where they are, and stops everything.
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
    # The app is the copy started without a command.
    if pgrep -u "$(id -u)" -fx "$paneveil" >/dev/null; then
        echo "Paneveil is already running in this session."
    else
        nohup "$paneveil" >"${XDG_RUNTIME_DIR:-/tmp}/paneveil.log" 2>&1 &
        echo "Paneveil is running: click the lock icon in the system tray."
    fi
    echo "Control+Super+L locks; Control+Super+U and your password unlock."
    echo "'$paneveil status' and '$paneveil lock' work from a terminal too."
    exit 0
fi

echo "No desktop session here: starting a virtual X session with a compositor, a tray and its own session bus."
before=/tmp/paneveil-before-lock.png
locked=/tmp/paneveil-locked.png
rm -f "$before" "$locked"
demo=$(cat <<DEMO
set -u
xcompmgr & trayer --edge top --align right --widthtype request --height 28 --transparent false --SetDockType true &
sleep 1
"$paneveil" & app=\$!
for _ in \$(seq 1 50); do "$paneveil" status >/dev/null 2>&1 && break; sleep 0.2; done
echo "\$ paneveil status"; "$paneveil" status
# As a person would: click the lock icon in the tray, open the settings
# window from the popover ("Settings…", bottom left), then the popover again.
click_icon() {
    for window in \$(xdotool search --onlyvisible --classname paneveil 2>/dev/null); do
        eval "\$(xdotool getwindowgeometry --shell "\$window")"
        # The icon is the small one; the app's other windows are large.
        if [ "\$WIDTH" -le 64 ]; then
            xdotool mousemove \$((X + WIDTH / 2)) \$((Y + HEIGHT / 2)) click 1
            sleep 1
            return
        fi
    done
}
click_icon
popover=\$(xdotool search --onlyvisible --name '^Paneveil\$' 2>/dev/null | head -1)
if [ -n "\$popover" ]; then
    eval "\$(xdotool getwindowgeometry --shell "\$popover")"
    xdotool mousemove \$((X + 34)) \$((Y + HEIGHT - 24)) click 1
    sleep 1
    click_icon
fi
import -window root "$before"
# Control+Super+L from the keyboard closes the popover and locks.
xdotool key ctrl+super+l
for _ in \$(seq 1 50); do "$paneveil" status 2>/dev/null | grep -q '^Locked' && break; sleep 0.2; done
echo "\$ paneveil status"; "$paneveil" status
sleep 1
import -window root "$locked"
kill \$app
DEMO
)
xvfb-run -a -s "-screen 0 1280x800x24" dbus-run-session -- bash -c "$demo"
for shot in "$before" "$locked"; do
    [ -s "$shot" ] || { echo "No screenshot was saved at $shot" >&2; exit 1; }
done
echo "Screenshots of the virtual screen: before locking $before, while locked $locked"
