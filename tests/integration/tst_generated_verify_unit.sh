#!/bin/sh
# Runs `systemd-analyze verify --user` on one unit file and fails on anything
# it says about that unit.
#
# It needs no running user manager, only a runtime folder; a private one
# makes it behave alike as root in a container and for a desktop user.
# By default it reports unknown keys and bad values as warnings and still
# exits 0; --recursive-errors=no makes them count for this unit (and leaves
# out the system's own units it pulls in). Any line that still names the
# unit fails the check too.
set -u
if [ $# -ne 1 ]; then
    echo "usage: $0 UNIT-FILE" >&2
    exit 2
fi
unit=$1
name=$(basename "$unit")
if [ ! -f "$unit" ]; then
    echo "unit check failed: $unit does not exist"
    exit 1
fi

runtime=$(mktemp -d) || exit 1
trap 'rm -rf "$runtime"' EXIT

output=$(XDG_RUNTIME_DIR=$runtime systemd-analyze verify --user --man=no \
    --recursive-errors=no "$unit" 2>&1)
status=$?
if [ -n "$output" ]; then
    printf '%s\n' "$output"
fi
if [ $status -ne 0 ]; then
    echo "unit check failed: systemd-analyze exited with status $status"
    exit 1
fi
if printf '%s\n' "$output" | grep -F -q -e "$name"; then
    echo "unit check failed: systemd-analyze reported problems in $name"
    exit 1
fi
echo "unit check passed: $unit"
