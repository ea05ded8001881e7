#!/usr/bin/env bash
# Every test: the C++ core tests, the Python suite in every environment (with
# the README examples and the type checks), then the wheel as users build it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
source scripts/pythons.sh
export PATH="$PWD/$VENV_MAIN/bin:$PATH"

echo "== C++ core tests"
cmake -S . -B build/cpp-tests -G Ninja -DQUELLON_BUILD_PYTHON=OFF -DQUELLON_BUILD_TESTS=ON >/dev/null
cmake --build build/cpp-tests -j2
ctest --test-dir build/cpp-tests --output-on-failure --no-tests=error -j2

for venv in "$VENV_MAIN" "$VENV_NP1" "$VENV_313"; do
  [ -x "$venv/bin/python" ] || continue
  echo "== Python tests: $("$venv/bin/python" -c 'import sys, numpy; print(f"Python {sys.version.split()[0]}, NumPy {numpy.__version__}")')"
  "$venv/bin/python" -m pytest -q -p no:cacheprovider python/tests
done

bash scripts/test_wheel.sh
