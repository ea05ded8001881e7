"""The type stubs as a caller's type checker sees them in the installed package.

mypy runs from an empty directory, so it can only find the stubs the wheel
installed (the `_quellon-stubs` package and `quellon` with its py.typed).
"""
import re
import runpy
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

EXAMPLES = Path(__file__).parent / "typing_examples"
ERROR_LINE = re.compile(r"^(?P<file>[^:]+):(?P<line>\d+): error: (?P<message>.*)  \[(?P<code>[a-z-]+)\]$")
MARKER = re.compile(r"# E: (?P<code>[a-z-]+)$")


def run_mypy(workdir: Path, *targets: str) -> subprocess.CompletedProcess:
    return subprocess.run(
        [sys.executable, "-m", "mypy", "--strict", "--no-color-output", "--no-error-summary",
         "--cache-dir", str(workdir / ".mypy_cache"), *targets],
        cwd=workdir, capture_output=True, text=True,
    )


def errors(output: str) -> list[re.Match]:
    return [m for m in map(ERROR_LINE.match, output.splitlines()) if m]


@pytest.fixture(scope="module")
def workdir(tmp_path_factory):
    path = tmp_path_factory.mktemp("typing")
    for example in EXAMPLES.glob("*.py"):
        shutil.copy(example, path)
    return path


def test_stubs_pass_strict_checking(workdir):
    result = run_mypy(workdir, "-p", "quellon", "-p", "_quellon")
    assert result.returncode == 0, result.stdout + result.stderr


def test_typed_usage_passes_strict_checking_and_runs(workdir):
    result = run_mypy(workdir, "usage_ok.py")
    assert result.returncode == 0, result.stdout + result.stderr
    runpy.run_path(str(EXAMPLES / "usage_ok.py"), run_name="__main__")


def test_misuse_is_rejected_on_every_marked_line(workdir):
    source = (EXAMPLES / "misuse.py").read_text().splitlines()
    expected = {(number, m["code"]) for number, line in enumerate(source, 1) if (m := MARKER.search(line))}
    result = run_mypy(workdir, "misuse.py")
    found = errors(result.stdout)
    assert {(int(m["line"]), m["code"]) for m in found} == expected, result.stdout + result.stderr
    # the invalid dtype key is refused against the full set of valid ones
    int7 = next(m["message"] for m in found if "'int7'" in m["message"] and m["code"] == "assignment")
    assert "'int8', 'int16', 'int32', 'int64', 'uint8', 'uint16', 'uint32', 'uint64', " \
           "'float16', 'float32', 'float64'" in int7


def test_stub_signatures_match_the_extension():
    # stubtest compares each stub signature with the module's own text signature
    result = subprocess.run([sys.executable, "-m", "mypy.stubtest", "_quellon"],
                            capture_output=True, text=True)
    assert result.returncode == 0, result.stdout + result.stderr
