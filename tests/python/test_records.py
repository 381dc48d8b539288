"""Every copy of a record's field list agrees with the one it comes from: the result record's
texts (the library's list, src/core/KOVResultText.h) with the Python records (kov_result's are
the C interface's own test), a pending transaction as C, Python and kov-cli show it, and the
typing stub of the C extension with the extension. A field added to one and not the others
fails here; one the stub lacks would reach a type checker as Any, without a word."""

import ast
import dataclasses
import json
import os
import pathlib
import re
import subprocess

import pytest
from conftest import purchase

from kovmodule import PendingTransaction, ResultDetails, _till
from kovmodule._kov import ffi, lib

_LIST = pathlib.Path(__file__).parents[2] / "src" / "core" / "KOVResultText.h"
_STUB = pathlib.Path(__file__).parents[2] / "python" / "kovmodule" / "_kov.pyi"


def result_texts():
    """The library's list: (JSON name, answer key, snake_case name) per text, in order."""
    return re.findall(r'KOV_RESULT_TEXT\((\w+), "([^"]+)", "(\w+)", (?:true|false)\)',
                      _LIST.read_text(encoding="utf-8"))


def snake(name):
    """kov-cli's and the JSON line's camelCase name as C and Python spell it."""
    return re.sub(r"(?<=[a-z0-9])([A-Z])", r"_\1", name).lower()


# The outcome's texts, which are not the record's.
_OUTCOME = {"txn_ref", "reason"}


@pytest.mark.parametrize("copy, names", [
    ("the texts of ResultDetails",
     lambda: {f.name for f in dataclasses.fields(ResultDetails) if f.type == "str | None"} - _OUTCOME),
    ("the answer keys of the Python package", lambda: {f"{name}={key}" for name, key in _till._ANSWER_KEYS.items()}),
], ids=["ResultDetails", "answer_keys"])
def test_the_result_texts_are_the_librarys(copy, names):
    listed = result_texts()
    assert len(listed) == 16  # the list was read
    expected = {f"{name}={key}" for _, key, name in listed} if "answer keys" in copy else {n for _, _, n in listed}
    assert names() == expected


def test_the_list_names_each_text_as_its_member():
    # snake_case of the member's name, but for the response code, named for what it is.
    assert [name for _, _, name in result_texts()] == [
        "response_code" if json_name == "reCo" else snake(json_name) for json_name, _, _ in result_texts()]


def test_a_pending_transaction_reads_alike_in_c_python_and_kov_cli(open_client, ref, tmp_path):
    journal = tmp_path / "payments.db"
    purchase(open_client(journal=journal), ref)  # its result waits for acknowledge()
    [pending] = open_client(journal=journal).pending()
    python = {f.name for f in dataclasses.fields(PendingTransaction)}
    c = {"started_at" if name == "started_at_ms" else name for name, _ in ffi.typeof("kov_pending_transaction").fields}
    assert c - {"size"} == python
    listed = subprocess.run([os.environ["KOV_CLI"], "pending", "--journal", str(journal)], check=True,
                            capture_output=True, text=True).stdout
    cli = {snake(key): value for key, value in json.loads(listed).items()}
    assert set(cli) == python
    assert cli == {
        "txn_ref": pending.txn_ref, "type": pending.type.name.capitalize(), "stage": pending.stage.name.lower(),
        "station": pending.station, "amount": str(pending.amount), "currency": pending.currency,
        "user": pending.user, "merchant_ref": pending.merchant_ref,
        "started_at": pending.started_at.strftime("%Y-%m-%dT%H:%M:%SZ"), "result": int(pending.result),
        "request_sent": pending.request_sent}


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
