"""Runs every Python example of README.md and compares the output it shows.

Each ```python block is a doctest session; the blocks run in order in one
namespace, as a reader typing them into one interpreter would.
"""
import doctest
import re
from pathlib import Path

README = Path(__file__).parents[2] / "README.md"
FENCE = re.compile(r"^```(?P<lang>\w*)\n(?P<body>.*?)^```$", re.MULTILINE | re.DOTALL)


def python_blocks(text):
    for m in FENCE.finditer(text):
        if m["lang"] in ("python", "pycon"):
            yield text.count("\n", 0, m.start("body")), m["body"]


def test_every_python_block_is_a_doctest_session():
    blocks = list(python_blocks(README.read_text()))
    assert blocks
    for lineno, body in blocks:
        assert body.startswith(">>> "), f"README.md:{lineno + 1}: a python block that is not run"


def test_readme_examples_show_their_real_output():
    parser = doctest.DocTestParser()
    runner = doctest.DocTestRunner(optionflags=doctest.REPORT_NDIFF)
    namespace = {"__name__": "readme"}
    for lineno, body in python_blocks(README.read_text()):
        test = parser.get_doctest(body, namespace, f"README.md:{lineno + 1}", str(README), lineno)
        runner.run(test, clear_globs=False)
        namespace = test.globs  # a DocTest runs in a copy of the names it is given
    failed, attempted = runner.summarize(verbose=False)
    assert attempted
    assert failed == 0, "README.md examples differ from their output (see the report above)"
