#!/usr/bin/env bash
# The Python suite on emulated processors, one per kernel tier (qemu user
# mode): Westmere has no AVX (generic tier, software binary16), SandyBridge has
# AVX but neither AVX2 nor F16C (AVX tier), Haswell has the full AVX2 tier with
# F16C. Each run also checks, through the test-only _quellon_probe module, the
# tier and binary16 route chosen, the tier-specific destination contents after
# a failure, and that a corpus of casts gives the results of a native run.
# Westmere runs the whole suite. The two vector tiers leave out the tests that
# never reach a conversion (reference and memory-growth loops, random objects
# in argument positions), which take a third of the time under emulation.
# Arguments, when given, are passed on to pytest for all three instead (e.g. a
# subset of python/tests; the per-tier checks are always included).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
source scripts/pythons.sh
export PATH="$PWD/$VENV_MAIN/bin:$PATH"

if ! command -v qemu-x86_64 >/dev/null 2>&1; then
  echo "== installing qemu-user"
  if [ "$(id -u)" = 0 ]; then apt-get update -qq && apt-get install -y -qq qemu-user >/dev/null
  else sudo apt-get update -qq && sudo apt-get install -y -qq qemu-user >/dev/null; fi
fi

echo "== building the probe module"
cmake -S . -B build/probe -G Ninja -DQUELLON_BUILD_PROBE=ON -DQUELLON_BUILD_TESTS=OFF \
  -DPython_EXECUTABLE="$PWD/$VENV_MAIN/bin/python" >/dev/null
cmake --build build/probe -j2 --target _quellon_probe
export PYTHONPATH="$PWD/build/probe/python"
python="$VENV_MAIN/bin/python"
if [ "$#" -gt 0 ]; then
  full=(python/tests/test_cpu_tiers.py "$@")
  vector=("${full[@]}")
else
  full=(python/tests)
  vector=(python/tests --ignore=python/tests/test_memory.py
          --deselect=python/tests/test_hostile_input.py::test_any_objects_passed_any_way)
fi

# The module under test is the wheel installed in the environment; the probe
# only reports what the same core decides in the same process.
where=$("$python" -c 'import _quellon; print(_quellon.__file__)')
case "$where" in "$PWD/$VENV_MAIN/"*) ;; *) echo "error: _quellon imported from $where" >&2; exit 1 ;; esac

native_results=build/probe/native-results.pickle
native_tier=$("$python" -c 'import _quellon_probe; print(_quellon_probe.kernel_tier())')
echo "== native run records its results (tier $native_tier)"
"$python" python/tests/test_cpu_tiers.py --record "$native_results"
QUELLON_EXPECT_TIER="$native_tier" QUELLON_NATIVE_RESULTS="$PWD/$native_results" \
  "$python" -m pytest -q -p no:cacheprovider python/tests/test_cpu_tiers.py

# run_model CPU TIER LOG PYTEST-ARGS...: the suite on one emulated processor.
run_model() {
  local cpu=$1 tier=$2 log=$3; shift 3
  {
    echo "== Python tests on an emulated $cpu (expects the $tier tier)"
    # qemu names the model features its emulator lacks (x2apic, TSX, ...),
    # none of which the module asks about.
    QUELLON_EXPECT_TIER="$tier" QUELLON_NATIVE_RESULTS="$PWD/$native_results" \
      qemu-x86_64 -cpu "$cpu" "$python" -m pytest -q -p no:cacheprovider "$@" 2>&1 |
      grep -v "^qemu-x86_64: warning: TCG doesn't support requested feature"
  } > "$log"
}

# Two emulations at a time, one per core: Westmere alone takes about as long
# as the other two one after the other.
logs=build/probe/logs
mkdir -p "$logs"
echo "== Python tests on emulated Westmere, SandyBridge and Haswell processors"
failed=()
run_model Westmere generic "$logs/Westmere.log" "${full[@]}" &
westmere=$!
run_model SandyBridge avx "$logs/SandyBridge.log" "${vector[@]}" || failed+=(SandyBridge)
run_model Haswell avx2 "$logs/Haswell.log" "${vector[@]}" || failed+=(Haswell)
wait "$westmere" || failed+=(Westmere)
cat "$logs/Westmere.log" "$logs/SandyBridge.log" "$logs/Haswell.log"
if [ "${#failed[@]}" -gt 0 ]; then
  echo "FAILED on: ${failed[*]}" >&2
  exit 1
fi
