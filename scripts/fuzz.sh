#!/usr/bin/env bash
# The libFuzzer targets of fuzz/ (clang with libFuzzer needed; see
# fuzz/README.md).
#
#   bash scripts/fuzz.sh [TARGET|all] [SECONDS]   fuzz each target SECONDS (default 60)
#                                                 and merge new finds into fuzz/corpus/TARGET/
#   bash scripts/fuzz.sh build                    only configure and build build/fuzz
#   bash scripts/fuzz.sh available                exit 0 when clang++ can link libFuzzer
#
# Inputs that break a property are kept as build/fuzz/artifacts/TARGET/crash-*;
# run the target on one to see it again: build/fuzz/fuzz/TARGET_fuzz FILE
set -euo pipefail
cd "$(dirname "$0")/.."

build=build/fuzz

available() {
  command -v clang++ >/dev/null 2>&1 || return 1
  local probe
  probe=$(mktemp -d)
  printf '%s\n' '#include <cstddef>' '#include <cstdint>' \
    'extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t*, std::size_t) { return 0; }' >"$probe/p.cpp"
  local ok=0
  clang++ -fsanitize=fuzzer "$probe/p.cpp" -o "$probe/p" >/dev/null 2>&1 || ok=1
  rm -rf "$probe"
  return $ok
}

configure_and_build() {
  # Only the libraries and the targets: no tests, no benchmarks.
  CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja \
    -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_CXX_FLAGS="-O1 -g" \
    -DKELTO_FUZZ=ON -DKELTO_BUILD_TESTS=OFF -DKELTO_BUILD_BENCH=OFF -DKELTO_BUILD_KIT=OFF -DKELTO_WERROR=ON >/dev/null
  cmake --build "$build" ${KELTO_BUILD_JOBS:+-j "$KELTO_BUILD_JOBS"}
}

case "${1:-all}" in
  available) available; exit ;;
  build) configure_and_build; exit ;;
esac

if ! available; then
  echo "clang++ with libFuzzer not found (on Debian: apt-get install clang libclang-rt-dev)" >&2
  exit 1
fi

if [ "${1:-all}" = all ]; then
  targets=()
  for source in fuzz/*_fuzz.cpp; do
    name=$(basename "$source" _fuzz.cpp)
    targets+=("$name")
  done
else
  targets=("$1")
  if [ ! -f "fuzz/$1_fuzz.cpp" ]; then
    echo "no fuzz target $1 (fuzz/$1_fuzz.cpp)" >&2
    exit 1
  fi
fi
seconds=${2:-60}

configure_and_build

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# The file-system targets write and read a small folder per input: in memory
# when possible.
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi

status=0
for name in "${targets[@]}"; do
  corpus=fuzz/corpus/$name
  artifacts=$build/artifacts/$name
  found=$(mktemp -d)
  mkdir -p "$corpus" "$artifacts"
  echo "== $name: ${seconds}s"
  # New finds go to the first folder; the corpus is read, never written.
  if ! "$build/fuzz/${name}_fuzz" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=4096 \
      -print_final_stats=1 -artifact_prefix="$artifacts/" "$found" "$corpus" 2>"$artifacts/log"; then
    status=1
    grep -E "property broken|ERROR|SUMMARY" "$artifacts/log" >&2 || true
    echo "$name: failure kept in $artifacts/ (log in $artifacts/log)" >&2
  fi
  grep -E "^stat::number_of_executed_units|^stat::new_units_added" "$artifacts/log" || true
  # Only inputs that reach code the corpus does not are added (edges, not hit
  # counts, so that the corpus stays small).
  "$build/fuzz/${name}_fuzz" -merge=1 -use_counters=0 "$corpus" "$found" 2>>"$artifacts/log" >/dev/null
  rm -rf "$found"
done
exit $status
