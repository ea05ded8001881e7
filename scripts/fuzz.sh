#!/usr/bin/env bash
# Fuzzes the conversion core for a bounded time (libFuzzer, one worker).
#   scripts/fuzz.sh [SECONDS] [--coverage]
# SECONDS defaults to 90. The corpus grows in build/fuzz/corpus (the seeds in
# core/fuzz/corpus are read, never written); a finding is saved under
# build/fuzz/artifacts and the script exits non-zero. --coverage also
# measures, with a separately built binary, which lines of core/src the
# corpus reaches. QUELLON_CORE_SRC fuzzes another copy of core/src instead.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=90
coverage=0
for arg in "$@"; do
  case "$arg" in
    --coverage) coverage=1 ;;
    ''|*[!0-9]*) echo "usage: scripts/fuzz.sh [SECONDS] [--coverage]" >&2; exit 2 ;;
    *) seconds=$arg ;;
  esac
done

apt_install() {
  echo "== installing $*"
  if [ "$(id -u)" = 0 ]; then apt-get update -qq && apt-get install -y -qq "$@" >/dev/null
  else sudo apt-get update -qq && sudo apt-get install -y -qq "$@" >/dev/null; fi
}

command -v clang++ >/dev/null 2>&1 || apt_install clang
clang_major=$(clang++ -dumpversion | cut -d. -f1)
# libFuzzer and the sanitizer runtimes.
dpkg -s "libclang-rt-$clang_major-dev" >/dev/null 2>&1 || apt_install "libclang-rt-$clang_major-dev"
if [ "$coverage" = 1 ] && ! command -v "llvm-profdata-$clang_major" >/dev/null 2>&1; then
  apt_install "llvm-$clang_major"
fi

# CMake and Ninja from the project's environment when it exists.
if [ -x .venv/py312/bin/cmake ]; then export PATH="$PWD/.venv/py312/bin:$PATH"; fi
command -v cmake >/dev/null 2>&1 || apt_install cmake
generator=()
if command -v ninja >/dev/null 2>&1; then generator=(-G Ninja); fi

build=build/fuzz
core_src=${QUELLON_CORE_SRC:-$PWD/core/src}
echo "== building the fuzz target (clang $clang_major)"
cmake -S core/fuzz -B "$build" "${generator[@]}" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE= \
  -DQUELLON_CORE_SRC="$core_src" >/dev/null
cmake --build "$build" -j2 >"$build/build.log" 2>&1 || { tail -40 "$build/build.log"; exit 1; }

mkdir -p "$build/corpus" "$build/artifacts"
log="$build/fuzz.log"
echo "== fuzzing for $seconds s (log: $log)"
export UBSAN_OPTIONS="print_stacktrace=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"
rc=0
"$build/fuzz_convert" -max_total_time="$seconds" -max_len=2048 -len_control=0 -timeout=60 -rss_limit_mb=2048 \
  -print_final_stats=1 -artifact_prefix="$build/artifacts/" "$build/corpus" core/fuzz/corpus >"$log" 2>&1 || rc=$?

last=$(grep -E '^#[0-9]+[[:space:]]+(DONE|pulse|NEW|REDUCE|INITED)' "$log" | tail -1 || true)
execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
echo "executions: ${execs:-?} (${rate:-?}/s)"
echo "coverage:   $(sed -E 's/^#[0-9]+[[:space:]]+[A-Z]+[[:space:]]+//; s/ lim:.*//; s/ exec\/s:.*//' <<<"$last")"
echo "            (cov: instrumented edges reached; ft: features; corp: units/bytes)"

if [ "$rc" != 0 ]; then
  echo "== FINDING (libFuzzer exit $rc):"
  grep -E -A12 'disagreement|ERROR:|runtime error|SUMMARY' "$log" | head -60 || tail -60 "$log"
  ls -1 "$build"/artifacts/ 2>/dev/null | sed 's/^/   artifact: build\/fuzz\/artifacts\//'
  echo "   reproduce: $build/fuzz_convert <artifact>"
  exit 1
fi

if [ "$coverage" = 1 ]; then
  covbuild=build/fuzz-cov
  echo "== measuring source coverage of the corpus"
  cmake -S core/fuzz -B "$covbuild" "${generator[@]}" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE= \
    -DQUELLON_CORE_SRC="$core_src" -DQUELLON_FUZZ_COVERAGE=ON >/dev/null
  cmake --build "$covbuild" -j2 >"$covbuild/build.log" 2>&1 || { tail -40 "$covbuild/build.log"; exit 1; }
  rm -f "$covbuild"/*.profraw
  LLVM_PROFILE_FILE="$PWD/$covbuild/run.profraw" "$covbuild/fuzz_convert" -runs=0 -max_len=2048 \
    "$build/corpus" core/fuzz/corpus >"$covbuild/run.log" 2>&1
  "llvm-profdata-$clang_major" merge -sparse "$covbuild/run.profraw" -o "$covbuild/run.profdata"
  "llvm-cov-$clang_major" report "$covbuild/fuzz_convert" -instr-profile="$covbuild/run.profdata" \
    "$core_src" | sed "s|$PWD/||"
fi
