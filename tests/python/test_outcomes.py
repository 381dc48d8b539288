"""What a host in Python gets for each outcome of the simulator, with either client."""

import logging
import socket

import pytest
from conftest import KEY, purchase

from kovmodule import LogEntryType, Result, State


def answer(label):
    """An operator who presses the button labelled so at the signature step, from on_screen."""
    def on_screen(client, screen):
        if screen.state == State.SIGNATURE_REQUIRED:
            client.press("B1" if screen.button1 == label else "B2", label)
    return on_screen


def fail(client, screen):
    raise RuntimeError("a till's own fault")


def closed_port():
    """A loopback port that nothing listens on."""
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


@pytest.mark.parametrize("merchant_ref, given, result, response_code, response_text, reason, failed_poll", [
    ("sim:approve", {}, Result.SUCCEEDED, "00", "APPROVED", None, None),
    ("sim:cancel", {}, Result.FAILED, "TC", "CANCELLED", None, None),
    ("sim:signature", {"on_screen": answer("YES")}, Result.SUCCEEDED, "00", "APPROVED", None, None),
    ("sim:signature", {"on_screen": answer("NO")}, Result.FAILED, "S2", "SIGNATURE DECLINED", None, None),
    ("sim:approve", {"key": "wrong"}, Result.USER_KEY_NOT_MATCHED, "p8", "INVALID USER OR KEY", None, None),
    # Nine failed polls, each a warning, and the time-out an error; the logger has them
    # without on_log too.
    ("sim:http404", {"on_log": None}, Result.TIMEOUT, None, None, "HTTP 404 without a screen",
     "HTTP 404 without a screen"),
    # Nothing listens: the request never left, so nothing can have been charged.
    ("sim:approve", {"closed_port": True}, Result.TIMEOUT, None, None, "connection refused by 127.0.0.1:{port}",
     "connection refused by 127.0.0.1:{port} (NSURLErrorDomain -1004)"),
    ("sim:approve", {"on_screen": fail}, Result.SUCCEEDED, "00", "APPROVED", None, None),  # a callback that raises
])
def test_outcome(open_client, ref, caplog, merchant_ref, given, result, response_code, response_text, reason,
                 failed_poll):
    caplog.set_level(logging.DEBUG, logger="kovmodule")
    given = dict(given)
    port = closed_port() if given.pop("closed_port", False) else None
    client = open_client(f"http://127.0.0.1:{port}/wqmi3/pos.aspx") if port else open_client()
    on_screen = given.pop("on_screen", None)
    screens, log = [], []

    def show(screen):
        screens.append(screen)
        if on_screen:
            on_screen(client, screen)

    got = purchase(client, ref, merchant_ref, on_screen=show,
                   on_log=given.pop("on_log", lambda kind, entry: log.append((kind, entry))), **given)
    reason = reason and reason.format(port=port)
    assert (got.result, got.response_code, got.response_text, got.txn_ref) == (result, response_code, response_text, ref)
    assert (got.reason, got.request_sent) == (reason, not port)
    assert got.approved == (result == Result.SUCCEEDED)
    if result == Result.SUCCEEDED:
        assert got.auth_code and got.masked_card_number == "411111******1111"
        assert f"REF {ref}" in got.receipt and "1" in (got.response.get("Scr/Complete"), got.response.get("Scr/Result/Complete"))
        assert screens and all(isinstance(s.state, State) for s in screens)
    key = given.get("key", KEY)
    if log:
        assert log[0][0] == LogEntryType.REQUEST_CONTENT and 'key="......"' in log[0][1]
        assert not [entry for _, entry in log if KEY in entry or key in entry]
    records = [(r.levelno, r.getMessage()) for r in caplog.records if r.name == "kovmodule"]
    assert records[0][0] == logging.DEBUG
    assert records[0][1].startswith(f'{ref}: <Scr action="doScrKOV" user="merchant" key="......"><TxnRef>{ref}</TxnRef>')
    assert not [text for _, text in records if KEY in text or key in text]
    expected = [(logging.WARNING, f"{ref}: {failed_poll.format(port=port)}")] * 9 if failed_poll else []
    if result == Result.TIMEOUT:
        expected.append((logging.ERROR, f"The transaction {ref} timed out, its outcome unknown ({reason}): recover it "
                                        "by its reference."))
    if on_screen is fail:
        expected += [(logging.ERROR, f"The on_screen callback of the transaction {ref} raised; the transaction goes on")
                     ] * len(screens)
    assert [(level, text) for level, text in records if level >= logging.WARNING] == expected
