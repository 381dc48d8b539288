"""The example till with the installed package alone: a payment cut off by Ctrl-C at the
signature step, which the next run recovers and the operator signs off."""

import os
import signal
import subprocess
import sys

import pytest
from conftest import KEY

EXAMPLE = os.path.join(os.environ["KOV_EXAMPLES_DIR"], "till.py")


@pytest.fixture(scope="module")
def installed(tmp_path_factory):
    """The build installed into a prefix of its own; the environment that sees only it."""
    prefix = tmp_path_factory.mktemp("prefix")
    subprocess.run(["cmake", "--install", os.environ["KOV_BUILD_DIR"], "--prefix", prefix],
                   check=True, stdout=subprocess.DEVNULL)
    env = {name: value for name, value in os.environ.items() if name != "PYTHONPATH"}
    env.update(PYTHONPATH=str(prefix / "lib/python3/dist-packages"), KOV_KEY=KEY)
    # Shared libraries installed for a system folder carry no path to this prefix.
    library = next(prefix.glob("**/libKOVModuleC.so.*"), None)
    if library:
        env["LD_LIBRARY_PATH"] = ":".join(filter(None, [str(library.parent), env.get("LD_LIBRARY_PATH")]))
    where = subprocess.run([sys.executable, "-c", "import kovmodule; print(kovmodule.__file__)"],
                           env=env, check=True, capture_output=True, text=True).stdout
    assert where.startswith(str(prefix)), where
    return env


def run_till(env, argv, at_signature):
    """Runs the example; at the signature screen the operator types 1 (YES) or presses Ctrl-C."""
    till = subprocess.Popen([sys.executable, EXAMPLE, *argv], env=env, text=True,
                            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    shown = []
    for line in till.stdout:
        shown.append(line.rstrip("\n"))
        if "[1] YES" in line and at_signature == "yes":
            till.stdin.write("1\n")
            till.stdin.flush()
        elif "[1] YES" in line and at_signature == "ctrl-c":
            till.send_signal(signal.SIGINT)
    _, errors = till.communicate(timeout=60)
    return till.returncode, shown, errors.splitlines()


@pytest.mark.parametrize("runs", [
    [("EX-CUT sim:signature", "ctrl-c", 130, "SIGNATURE_REQUIRED: SIGNATURE OK? / ", [
        "The transaction EX-CUT was abandoned before its result (it stays pending in the journal): "
        "recover it by its reference."]),
     ("", "yes", 0, "EX-CUT: SUCCEEDED APPROVED auth", [])],
])
def test_example_till(installed, simulator, tmp_path, runs):
    journal = str(tmp_path / "till.db")
    for args, at_signature, status, last_line, errors in runs:
        ref, merchant_ref = args.split() if args else (None, None)
        argv = [simulator, "--journal", journal, "--station", runs[0][0].split()[0]]
        argv += [ref, "12.50", "--merchant-ref", merchant_ref] if ref else []
        status_got, shown, errors_got = run_till(installed, argv, at_signature)
        assert (status_got, shown[-1][:len(last_line)], errors_got) == (status, last_line, errors), shown
