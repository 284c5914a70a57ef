#!/usr/bin/env bash
# Installs the Debian 12 packages Paneveil needs to build, run and test.
# Idempotent: when everything is present it only asks dpkg and returns.
set -euo pipefail

packages=(
    # build
    build-essential cmake pkg-config clang libclang-rt-14-dev
    qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins
    libplist-dev libelf-dev libxcb1-dev
    libxcb-xinput-dev libxcb-xtest0-dev libxcb-shape0-dev libxcb-xfixes0-dev
    libxcb-randr0-dev libxcb-composite0-dev libxcb-screensaver0-dev
    libxcb-keysyms1-dev libxcb-ewmh-dev libxcb-icccm4-dev libxcb-xkb-dev
    libpam0g-dev libcanberra-dev qt6-declarative-dev
    qml6-module-qtquick qml6-module-qtquick-controls qml6-module-qtquick-templates
    qml6-module-qtqml-workerscript qml6-module-qtquick-layouts qml6-module-qtquick-window
    # run
    dbus dbus-daemon dbus-bin xvfb xauth libcanberra0 libcanberra-pulse libqt6svg6 fonts-dejavu-core
    # the run command's virtual session: a tray host, a compositor, screenshots
    trayer xcompmgr xdotool imagemagick
    # test
    desktop-file-utils systemd libglib2.0-bin xtrlock x11-utils x11-xserver-utils
    xdg-utils passwd util-linux libpam-wrapper libpamtest0-dev sox libsox-fmt-base
)

missing=()
for package in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null || true)
    [ "$status" = installed ] || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq "${missing[@]}"
