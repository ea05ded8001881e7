#!/usr/bin/env bash
# The C++ tests and the whole Python suite against a build instrumented with
# AddressSanitizer and UndefinedBehaviorSanitizer (float-cast-overflow
# included, no recovery: the first report fails the run). Also checks that the
# instrumented build keeps AVX-encoded code out of everything that may run on
# a processor without AVX. Arguments are passed on to pytest.
set -euo pipefail
export LC_ALL=C  # sort and comm must agree on the order of symbol names
cd "$(dirname "$0")/.."
bash scripts/setup.sh
source scripts/pythons.sh
export PATH="$PWD/$VENV_MAIN/bin:$PATH"
build=build/sanitize

echo "== sanitized build (gcc, -fsanitize=address,undefined,float-cast-overflow)"
# Debug: every plain unit unoptimised, so nothing is folded away before the
# checks run; the instruction-set units stay pinned at -O2 by core/CMakeLists.txt.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=g++ \
  -DQUELLON_SANITIZE=ON -DQUELLON_BUILD_TESTS=ON -DQUELLON_BUILD_PYTHON=ON -DQUELLON_BUILD_PROBE=ON \
  -DPython_EXECUTABLE="$PWD/$VENV_MAIN/bin/python" >/dev/null
cmake --build "$build" -j2

# The instrumentation must really be there, float-to-integer casts included.
for bin in "$build"/core/tests/core_tests "$build"/python/_quellon.*.so; do
  undefined=$(nm -u "$bin")
  for handler in __asan_report_store __ubsan_handle_float_cast_overflow_abort __ubsan_handle_shift_out_of_bounds_abort; do
    grep -q "$handler" <<<"$undefined" || { echo "error: $bin does not call $handler" >&2; exit 1; }
  done
done

# ---- AVX code must stay inside the instruction-set units -------------------
# An inline function that an instruction-set unit emits out of line is a weak
# definition; if plain code uses the same function, the linker may keep the
# AVX-encoded copy for everyone. Load-time constructors of those units
# (static initialisers, sanitizer registration) run on every processor.
isa_objects=()
plain_objects=()
while IFS= read -r obj; do
  case "$obj" in
    */float16_f16c.cpp.o | */simd/avx/kernels.cpp.o | */simd/avx2/kernels.cpp.o) isa_objects+=("$obj") ;;
    *) plain_objects+=("$obj") ;;
  esac
done < <(find "$build" -name '*.cpp.o' | sort)
[ "${#isa_objects[@]}" = 3 ] || { echo "error: expected 3 instruction-set objects, found ${#isa_objects[@]}" >&2; exit 1; }

# vex_functions FILE: the functions of FILE that hold a VEX-encoded (AVX, AVX2,
# FMA, F16C, BMI) or LZCNT instruction, one mangled name a line.
vex_functions() {
  objdump -d --no-show-raw-insn "$1" | awk '
    /^[0-9a-f]+ <.*>:$/ { name = $2; sub(/^</, "", name); sub(/>:$/, "", name); next }
    /^ +[0-9a-f]+:\t/ {
      split($0, parts, "\t"); split(parts[2], words, " "); m = words[1]
      if (m ~ /^(verr|verw|vmcall|vmlaunch|vmresume|vmxon|vmxoff|vmread|vmwrite|vmptrld|vmptrst|vmclear|vmfunc)$/) next
      if (m ~ /^v/ || m ~ /^(andn|bextr|blsi|blsmsk|blsr|bzhi|mulx|pdep|pext|rorx|sarx|shlx|shrx|lzcnt)$/) print name
    }' | sort -u
}

status=0
plain_symbols=$(nm "${plain_objects[@]}" 2>/dev/null | awk 'NF >= 2 { print $NF }' | sort -u)
for obj in "${isa_objects[@]}"; do
  vex=$(vex_functions "$obj")
  weak=$(nm "$obj" | awk '$2 ~ /^[WV]$/ { print $3 }' | sort -u)
  shared=$(comm -12 <(echo "$vex") <(echo "$weak") | comm -12 - <(echo "$plain_symbols") || true)
  ctors=$(echo "$vex" | grep -E '^(_GLOBAL__sub_[ID]_|_sub_[ID]_)' || true)
  if [ -n "$ctors" ]; then
    echo "FAULT: load-time code of $obj is AVX-encoded:"; echo "$ctors" | c++filt | sed 's/^/  /'; status=1
  fi
  if [ -n "$shared" ]; then
    echo "risk: $obj emits AVX-encoded weak copies of functions plain code also uses:"
    echo "$shared" | c++filt | sed 's/^/  /'
    # Whether the linker kept such a copy in a binary is what decides.
    for bin in "$build"/core/tests/core_tests "$build"/python/_quellon*.so "$build"/python/_quellon_probe*.so; do
      kept=$(comm -12 <(vex_functions "$bin") <(echo "$shared") || true)
      if [ -n "$kept" ]; then
        echo "FAULT: $bin keeps AVX-encoded copies used by plain code:"; echo "$kept" | c++filt | sed 's/^/  /'
        status=1
      fi
    done
  fi
done
[ "$status" = 0 ] || exit 1
echo "no AVX-encoded code reachable from plain code or load-time constructors"

# ---- C++ tests ------------------------------------------------------------
echo "== C++ core tests (sanitized)"
export ASAN_OPTIONS=abort_on_error=1:detect_stack_use_after_return=1:strict_init_order=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir "$build" --output-on-failure --no-tests=error -j2

# ---- Python suite ---------------------------------------------------------
# The interpreter is not instrumented, so the ASan runtime must be loaded
# first. CPython keeps objects alive at exit by design, so leak detection is
# off for these runs; PYTHONMALLOC=malloc lets ASan see every Python object.
# The resident-memory growth tests are left out: ASan holds freed memory in
# quarantine, so resident size grows by design (the reference and block
# counting tests beside them still run).
libasan=$(g++ -print-file-name=libasan.so)
[ -f "$libasan" ] || { echo "error: libasan.so not found" >&2; exit 1; }
pyenv_asan=(env LD_PRELOAD="$libasan" ASAN_OPTIONS="$ASAN_OPTIONS:detect_leaks=0" PYTHONMALLOC=malloc
            PYTHONPATH="$PWD/$build/python")
for venv in "$VENV_MAIN" "$VENV_NP1"; do
  [ -x "$venv/bin/python" ] || continue
  where=$("${pyenv_asan[@]}" "$venv/bin/python" -c 'import _quellon; print(_quellon.__file__)')
  case "$where" in "$PWD/$build/python/"*) ;; *) echo "error: imported $where, not the sanitized module" >&2; exit 1 ;; esac
  echo "== Python tests (sanitized): $("$venv/bin/python" -c 'import sys, numpy; print(f"Python {sys.version.split()[0]}, NumPy {numpy.__version__}")')"
  # The per-tier tests run too, for the tier this processor selects.
  tier=$("${pyenv_asan[@]}" "$venv/bin/python" -c 'import _quellon_probe; print(_quellon_probe.kernel_tier())')
  "${pyenv_asan[@]}" QUELLON_EXPECT_TIER="$tier" "$venv/bin/python" -m pytest -q -p no:cacheprovider \
    --deselect=python/tests/test_memory.py::test_process_memory_does_not_grow python/tests "$@"
done
