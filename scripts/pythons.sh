# Sourced: finds interpreters of 3.12 and 3.13 and names the environments.
find_python() {
  local version=$1 candidate root
  root=$(pyenv root 2>/dev/null || echo "$HOME/.pyenv")
  for candidate in "python$version" "$root"/versions/"$version".*/bin/"python$version" \
                   /usr/bin/"python$version" /usr/local/bin/"python$version"; do
    if command -v "$candidate" >/dev/null 2>&1 &&
       "$candidate" -c "import sys, venv; sys.exit(sys.version_info[:2] != tuple(map(int, '$version'.split('.'))))" 2>/dev/null; then
      command -v "$candidate"
      return 0
    fi
  done
  return 1
}

PY312=$(find_python 3.12) || { echo "error: no Python 3.12 interpreter found (NumPy 1.26 needs 3.12)" >&2; exit 1; }
PY313=$(find_python 3.13 || true)
VENV_MAIN=.venv/py312
VENV_NP1=.venv/py312-np1
VENV_313=.venv/py313
