#!/usr/bin/env bash
# Creates the virtual environments, installs what the build and the tests
# need, and builds and installs the extension into every environment.
# Idempotent: a second run only rebuilds what changed.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/pythons.sh

if ! dpkg -s libgtest-dev >/dev/null 2>&1; then
  echo "== installing GoogleTest (libgtest-dev)"
  if [ "$(id -u)" = 0 ]; then apt-get update -qq && apt-get install -y -qq libgtest-dev >/dev/null
  else sudo apt-get update -qq && sudo apt-get install -y -qq libgtest-dev >/dev/null; fi
fi

# make_venv DIR PYTHON REQUIREMENT...: (re)creates DIR when its inputs changed.
make_venv() {
  local dir=$1 python=$2; shift 2
  local want; want="$("$python" --version 2>&1) $* $(cat requirements/*.txt | sha1sum)"
  if [ -f "$dir/.inputs" ] && [ "$(cat "$dir/.inputs")" = "$want" ]; then return; fi
  echo "== creating $dir with $("$python" --version 2>&1)"
  rm -rf "$dir"
  "$python" -m venv "$dir"
  "$dir/bin/python" -m pip install -q --upgrade pip
  "$dir/bin/python" -m pip install -q "$@"
  echo "$want" > "$dir/.inputs"
}

make_venv "$VENV_MAIN" "$PY312" -r requirements/build.txt -r requirements/test.txt
make_venv "$VENV_NP1" "$PY312" "numpy==1.26.*" -r requirements/test.txt
if [ -n "$PY313" ]; then
  make_venv "$VENV_313" "$PY313" -r requirements/build.txt -r requirements/test.txt
fi

# build_wheel VENV TAG: builds the extension against that venv's NumPy 2.x
# headers, incrementally in build/wheel-TAG, and prints the wheel's path.
build_wheel() {
  local venv=$1 tag=$2
  rm -rf "dist/$tag"
  PATH="$PWD/$venv/bin:$PATH" "$venv/bin/python" -m pip wheel -q --no-build-isolation --no-deps \
    -C build-dir="build/wheel-$tag" -w "dist/$tag" . >&2
  ls "dist/$tag"/quellon-*.whl
}

echo "== building the extension"
wheel312=$(build_wheel "$VENV_MAIN" py312)
"$VENV_MAIN/bin/python" -m pip install -q --no-deps --force-reinstall "$wheel312"
"$VENV_NP1/bin/python" -m pip install -q --no-deps --force-reinstall "$wheel312"
if [ -n "$PY313" ]; then
  wheel313=$(build_wheel "$VENV_313" py313)
  "$VENV_313/bin/python" -m pip install -q --no-deps --force-reinstall "$wheel313"
fi
