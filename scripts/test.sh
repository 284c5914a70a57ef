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
ctest --test-dir "$build" --output-on-failure -j"$(nproc)" --timeout 600
