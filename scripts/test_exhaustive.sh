#!/usr/bin/env bash
# The sweeps too long for every test run: every binary32 pattern through both
# binary16 routes.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
source scripts/pythons.sh
export PATH="$PWD/$VENV_MAIN/bin:$PATH"
cmake -S . -B build/cpp-tests -G Ninja -DQUELLON_BUILD_PYTHON=OFF -DQUELLON_BUILD_TESTS=ON >/dev/null
cmake --build build/cpp-tests -j2 --target core_exhaustive_tests
./build/cpp-tests/core/tests/core_exhaustive_tests
