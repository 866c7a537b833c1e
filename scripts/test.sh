#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds with AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

build=build/test
# Line tables only (-g1): the sanitizers' stack traces keep file and line,
# and the build is much lighter than with full debug information.
cmake -S . -B "$build" -G Ninja \
  -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_FLAGS="-O1" -DCMAKE_CXX_FLAGS_DEBUG="-g1" \
  -DKELTO_SANITIZE=ON -DKELTO_WERROR=ON
cmake --build "$build"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir "$build" --output-on-failure -j "$(nproc)" --timeout 600

# The fuzz targets replay their corpora (seconds) when clang with libFuzzer is
# at hand; CI machines without clang skip this.
if bash scripts/fuzz.sh available; then
  bash scripts/fuzz.sh build
  ctest --test-dir build/fuzz --output-on-failure -j "$(nproc)" --timeout 300
else
  echo "clang++ with libFuzzer not found: fuzz corpora not replayed"
fi
