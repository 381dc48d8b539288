"""The typing stub of the C extension knows all of it: a function, constant or member the
header gained and the stub did not would reach a type checker as Any, without a word."""

import ast
import pathlib

import pytest

from kovmodule._kov import ffi, lib

_STUB = pathlib.Path(__file__).parents[2] / "python" / "kovmodule" / "_kov.pyi"


def declared(name):
    """The names the stub's class declares: its annotated members and its methods."""
    stub = ast.parse(_STUB.read_text(encoding="utf-8"))
    body = next(node.body for node in stub.body if isinstance(node, ast.ClassDef) and node.name == name)
    return sorted(node.target.id if isinstance(node, ast.AnnAssign) else node.name
                  for node in body if isinstance(node, (ast.AnnAssign, ast.FunctionDef)))


@pytest.mark.parametrize("name", ["_Lib", "kov_transaction", "kov_screen", "kov_result", "kov_callbacks",
                                  "kov_pending_entry", "kov_pending_transaction"])
def test_the_stub_knows_every_member_of_the_extension(name):
    real = dir(lib) if name == "_Lib" else [member for member, _ in ffi.typeof(name).fields]
    assert declared(name) == sorted(real)
