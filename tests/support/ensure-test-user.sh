#!/usr/bin/env bash
# Makes sure a local test account exists, with a password (programs such as
# xtrlock and pam_unix refuse accounts without one). Only root can create it;
# for anyone else there is nothing to do, since tests then run as themselves.
# usage: ensure-test-user.sh NAME [PASSWORD]
set -euo pipefail
name=$1
password=${2:-$(head -c 12 /dev/urandom | base64)}
[ "$(id -u)" -eq 0 ] || exit 0
id "$name" >/dev/null 2>&1 || useradd --create-home --shell /usr/sbin/nologin "$name"
echo "$name:$password" | chpasswd
