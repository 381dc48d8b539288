"""The build of the extension kovmodule._kov, which pyproject.toml cannot describe: cffi
writes its C source, compiled and linked against the installed library that pkg-config
finds (kov_build.py). The package takes the library's version."""

import pathlib
import runpy

import setuptools

build = runpy.run_path(str(pathlib.Path(__file__).with_name("kov_build.py")))

setuptools.setup(version=build["library_version"](), cffi_modules=["kov_build.py:ffibuilder"])
