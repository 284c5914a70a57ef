#!/usr/bin/env bash
# Installs what is missing, builds everything with clang (the fuzzers need
# it) and runs every test, benchmark figures and a bounded fuzzing run included.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

build=build/test
CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_INSTALL_PREFIX="$PWD/$build/prefix" \
    -DPANEVEIL_BUILD_TESTS=ON -DPANEVEIL_BUILD_FUZZERS=ON
cmake --build "$build" -j"$(nproc)"
# One test at a time: the X11, PAM and bus tests each start servers of their
# own, and a loaded two-core machine makes their timing less predictable.
ctest --test-dir "$build" --output-on-failure --timeout 600
