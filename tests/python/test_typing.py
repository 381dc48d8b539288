"""mypy --strict passes on the package, on the example till and on the guide's Python, and
finds what a till gets wrong in its calls."""

import os
import pathlib
import re
import subprocess
import sys
import textwrap

import pytest

ROOT = pathlib.Path(__file__).parents[2]

# What the guide's Python leaves to the till itself.
TILL = """
import kovmodule
key = "s3cret"
def display(line1: str, line2: str, button1: str | None, button2: str | None) -> None: pass
def operator_says_yes() -> bool: return True
def settle(result: kovmodule.ResultDetails) -> None: pass
record = settle
def print_receipt(receipt: str | None) -> None: pass
"""

# Tills that get a call wrong, each with the codes of the errors mypy must find in it.
WRONG = {
    "an on_screen that takes something else": ("""
def show(screen: str) -> None: pass
with kovmodule.Client("https://pay.example/wqmi3/pos.aspx") as till:
    till.purchase("merchant", key, "till-1", "T-1", "12.50", "AUD", on_screen=show)
""", ["arg-type"]),
    "an async def on_screen": ("""
async def show(screen: kovmodule.Screen) -> None: pass
with kovmodule.Client("https://pay.example/wqmi3/pos.aspx") as till:
    till.recover(None, key, None, "T-1", on_screen=show)
""", ["arg-type"]),
    "a float amount, and a keyword no recovery takes": ("""
async def pay(till: kovmodule.aio.Client) -> None:
    await till.purchase("merchant", key, "till-1", "T-1", 12.5, "AUD")
    await till.recover(None, key, None, "T-1", merchant_ref="order 42")
""", ["arg-type", "call-arg"]),
}


def guide_python():
    """The ```python blocks of the guide's "Hosts in Python", those of its list items too."""
    text = (ROOT / "docs" / "integration-guide.md").read_text(encoding="utf-8")
    section = text.split("\n## Hosts in Python\n", 1)[1].split("\n## ", 1)[0]
    blocks = re.findall(r"^( *)```python\n(.*?)^\1```$", section, re.MULTILINE | re.DOTALL)
    return [textwrap.dedent(block) for _, block in blocks]


def hosts():
    """Every till checked, by name: its source, and the error codes mypy must find in it."""
    found = {"the example till": ((ROOT / "examples" / "python" / "till.py").read_text(encoding="utf-8"), [])}
    for number, block in enumerate(guide_python(), 1):
        found[f"the guide's #{number}"] = (TILL + block, [])
    return {**found, **{name: (TILL + source, codes) for name, (source, codes) in WRONG.items()}}


@pytest.fixture(scope="module")
def errors(tmp_path_factory):
    """mypy's error codes per till, from one run over the package and all the tills."""
    folder = tmp_path_factory.mktemp("tills")
    files = {}
    for number, (name, (source, _)) in enumerate(sorted(hosts().items())):
        files[name] = folder / f"till_{number}.py"
        files[name].write_text(source, encoding="utf-8")
    done = subprocess.run(
        [sys.executable, "-m", "mypy", "--config-file", ROOT / "python" / "pyproject.toml", "--cache-dir", os.devnull,
         "--no-error-summary", "--show-error-codes", ROOT / "python" / "kovmodule", *files.values()],
        env={**os.environ, "MYPYPATH": str(ROOT / "python")}, capture_output=True, text=True, timeout=240)
    assert done.stderr == ""
    codes = {name: [] for name in [*files, "the package"]}
    for line in done.stdout.splitlines():
        path, _, message = line.partition(":")
        if ": note: " in message:
            continue
        name = next((name for name, file in files.items() if str(file) == path), "the package")
        codes[name] += re.findall(r"\[([a-z-]+)\]$", message) or [line]
    return codes


@pytest.mark.parametrize("name", ["the package", *sorted(hosts())])
def test_mypy_strict(errors, name):
    expected = hosts()[name][1] if name != "the package" else []
    assert errors[name] == expected
