"""The package as a host installs it, over the library installed into a prefix: from the
library's own install, and built by pip against that install into a virtual environment
(offline, with the system's setuptools and cffi). Either takes a payment and knows its
version."""

import os
import pathlib
import shutil
import subprocess
import sys

import pytest
from conftest import KEY

SOURCE = pathlib.Path(__file__).parents[2] / "python"
# What the package needs of the library: the C interface and the parts under it.
COMPONENTS = [part + kind for part in ("Core", "Curl", "Journal", "C") for kind in ("Runtime", "Development")]

HOST = """
import importlib.metadata, os, sys
import kovmodule

endpoint, ref = sys.argv[1:]
with kovmodule.Client(endpoint, retry_spacing=0, poll_floor=0) as till:
    result = till.purchase("merchant", os.environ["KOV_KEY"], ref, ref, "12.50", "AUD", merchant_ref="sim:approve")
print(importlib.metadata.version("kovmodule"), kovmodule.__version__, result.result.name)
print(kovmodule.__file__)
"""


def run(command, **env):
    """Runs a command without the build tree's package on the path, and returns its output."""
    environment = {name: value for name, value in os.environ.items() if name != "PYTHONPATH"}
    done = subprocess.run([str(part) for part in command], env={**environment, **env}, capture_output=True,
                          text=True, timeout=240)
    assert done.returncode == 0, done.stdout + done.stderr
    return done.stdout


@pytest.fixture(scope="module")
def prefix(tmp_path_factory):
    """The library installed into a prefix of its own, with what the install said."""
    where = tmp_path_factory.mktemp("prefix")
    said = [run([os.environ["CMAKE_COMMAND"], "--install", os.environ["KOV_BUILD_DIR"], "--prefix", where,
                 "--component", component]) for component in COMPONENTS + ["Python"]]
    return where, "".join(said)


def installed_by_cmake(prefix, tmp_path):
    """The package of the Python component, found through PYTHONPATH as the install said."""
    where, said = prefix
    site = where / os.environ["KOV_PYTHON_INSTALL_DIR"]
    assert f"-- kovmodule is installed in {site}, which {sys.executable} does not search: add it to PYTHONPATH\n" \
        in said
    return [sys.executable], {"PYTHONPATH": str(site)}, site


def installed_by_pip(prefix, tmp_path):
    """The package built with pip against the library's pkg-config files, in a virtual
    environment that sees the system's packages. pip builds in the source folder: a copy."""
    where, _ = prefix
    venv = tmp_path / "venv"
    run([sys.executable, "-m", "venv", "--system-site-packages", venv])
    source = shutil.copytree(SOURCE, tmp_path / "source", ignore=shutil.ignore_patterns("build", "*.egg-info",
                                                                                         "__pycache__"))
    # A sanitized library needs its runtime linked into the extension too.
    flags = {"LDFLAGS": os.environ["KOV_SANITIZE_FLAGS"]} if os.environ.get("KOV_SANITIZE_FLAGS") else {}
    run([venv / "bin" / "python", "-m", "pip", "install", "--no-build-isolation", "--no-index", "--no-cache-dir",
         "--disable-pip-version-check", "--quiet", source],
        PKG_CONFIG_PATH=str(where / os.environ["KOV_LIBDIR"] / "pkgconfig"), **flags)
    return [venv / "bin" / "python"], {}, venv


@pytest.mark.parametrize("install", [installed_by_cmake, installed_by_pip])
def test_an_installed_package_takes_a_payment(simulator, ref, prefix, tmp_path, install):
    python, env, home = install(prefix, tmp_path)
    said = run([*python, "-c", HOST, simulator, ref], KOV_KEY=KEY, **env).splitlines()
    version = os.environ["KOV_VERSION"]
    assert said[0] == f"{version} {version} SUCCEEDED"
    assert pathlib.Path(said[1]).is_relative_to(home)
