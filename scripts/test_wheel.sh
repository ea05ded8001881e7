#!/usr/bin/env bash
# The wheel as users get it: `pip wheel .` with build isolation (build tools
# from the package index, nothing from our environments), installed into new
# environments of Python 3.12 with NumPy 1.26 and 2.x and Python 3.13 with
# NumPy 2.x, each running a smoke cast. The cp313 wheel is the one setup.sh
# built from the same sources, which saves a second full compile.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/pythons.sh
# The build sees what a user's shell offers: none of our environments.
PATH=$(tr ':' '\n' <<<"$PATH" | grep -v "^$PWD/\.venv/" | paste -sd: -)

work=build/wheel-check
rm -rf "$work"
mkdir -p "$work"
version=$("$PY312" -c 'import tomllib; print(tomllib.load(open("pyproject.toml", "rb"))["project"]["version"])')

# quietly LOG COMMAND...: runs COMMAND with its output in LOG, shown on failure.
quietly() {
  local log=$1; shift
  if ! "$@" >"$log" 2>&1; then
    grep -v "^WARNING: Location" "$log" >&2
    echo "error: $* failed" >&2
    return 1
  fi
}

# smoke NAME PYTHON WHEEL PIP-ARGS...: a new environment with the wheel and the
# given extra requirements, then the smoke cast from outside the source tree.
smoke() {
  local name=$1 python=$2 wheel=$3; shift 3
  local venv="$work/$name"
  "$python" -m venv "$venv"
  quietly "$work/$name-install.log" "$venv/bin/python" -m pip install "$wheel" "$@"
  (cd "$work" && "$PWD/$name/bin/python" "$OLDPWD/scripts/wheel_smoke.py" "$version")
}

echo "== wheel: pip wheel . (Python 3.12, isolated build)"
"$PY312" -m venv "$work/py312"
quietly "$work/build.log" "$work/py312/bin/python" -m pip wheel --no-deps -w "$work/dist" .
wheel312=$(ls "$work"/dist/quellon-*.whl)
case "$(basename "$wheel312")" in
  "quellon-$version-cp312-cp312-linux_x86_64.whl") ;;
  *) echo "error: unexpected wheel name $(basename "$wheel312")" >&2; exit 1 ;;
esac

echo "== wheel: smoke casts in fresh environments"
quietly "$work/py312-install.log" "$work/py312/bin/python" -m pip install "$wheel312"
(cd "$work" && "$PWD/py312/bin/python" "$OLDPWD/scripts/wheel_smoke.py" "$version")
smoke py312-np1 "$PY312" "$wheel312" "numpy==1.26.*"
if [ -n "$PY313" ]; then
  wheel313=$(ls dist/py313/quellon-"$version"-cp313-cp313-linux_x86_64.whl)
  smoke py313 "$PY313" "$wheel313"
fi
for wheel in "$wheel312" ${wheel313:-}; do
  echo "   $(basename "$wheel"): $(stat -c %s "$wheel") bytes"
done
