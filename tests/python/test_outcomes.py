"""What a host in Python gets from a transaction, with either client: the result record, the
screens, and the debug log on the "kovmodule" logger and on_log, never with the key."""

import logging

import pytest
from conftest import KEY, purchase

from kovmodule import LogEntryType, Result, State


def say_yes(client, screen):
    """An operator who presses YES at the signature step, from on_screen."""
    if screen.state == State.SIGNATURE_REQUIRED:
        client.press("B1" if screen.button1 == "YES" else "B2", "YES")


def fail(client, screen):
    raise RuntimeError("a till's own fault")


@pytest.mark.parametrize("merchant_ref, on_screen, on_log, result, response_code, response_text, reason", [
    ("sim:approve", fail, True, Result.SUCCEEDED, "00", "APPROVED", None),  # a callback that raises
    ("sim:signature", say_yes, True, Result.SUCCEEDED, "00", "APPROVED", None),
    # Nine failed polls, each a warning, and the time-out an error; the logger has them
    # without on_log too.
    ("sim:http404", None, False, Result.TIMEOUT, None, None, "HTTP 404 without a screen"),
])
def test_outcome(open_client, ref, caplog, merchant_ref, on_screen, on_log, result, response_code, response_text,
                 reason):
    caplog.set_level(logging.DEBUG, logger="kovmodule")
    client = open_client()
    screens, log = [], []

    def show(screen):
        screens.append(screen)
        if on_screen:
            on_screen(client, screen)

    got = purchase(client, ref, merchant_ref, on_screen=show,
                   on_log=(lambda kind, entry: log.append((kind, entry))) if on_log else None)
    assert (got.result, got.response_code, got.response_text, got.txn_ref) == (result, response_code, response_text, ref)
    assert (got.reason, got.request_sent, got.approved) == (reason, True, result == Result.SUCCEEDED)
    if result == Result.SUCCEEDED:
        assert got.auth_code and got.masked_card_number == "411111******1111"
        assert f"REF {ref}" in got.receipt and "1" in (got.response.get("Scr/Complete"), got.response.get("Scr/Result/Complete"))
        assert screens and all(isinstance(s.state, State) for s in screens)
    if on_log:
        assert log[0][0] == LogEntryType.REQUEST_CONTENT and 'key="......"' in log[0][1]
        assert not [entry for _, entry in log if KEY in entry]
    records = [(r.levelno, r.getMessage()) for r in caplog.records if r.name == "kovmodule"]
    assert records[0][0] == logging.DEBUG
    assert records[0][1].startswith(f'{ref}: <Scr action="doScrKOV" user="merchant" key="......"><TxnRef>{ref}</TxnRef>')
    assert not [text for _, text in records if KEY in text]
    expected = [(logging.WARNING, f"{ref}: {reason}")] * 9 if reason else []
    if result == Result.TIMEOUT:
        expected.append((logging.ERROR, f"The transaction {ref} timed out, its outcome unknown ({reason}): recover it "
                                        "by its reference."))
    if on_screen is fail:
        expected += [(logging.ERROR, f"The on_screen callback of the transaction {ref} raised; the transaction goes on")
                     ] * len(screens)
    assert [(level, text) for level, text in records if level >= logging.WARNING] == expected
