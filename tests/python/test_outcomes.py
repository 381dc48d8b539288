"""What a host in Python gets for each outcome of the simulator, with either client."""

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


@pytest.mark.parametrize("merchant_ref, key, on_screen, result, response_code, response_text", [
    ("sim:approve", KEY, None, Result.SUCCEEDED, "00", "APPROVED"),
    ("sim:decline", KEY, None, Result.FAILED, "51", "DECLINED"),
    ("sim:cancel", KEY, None, Result.FAILED, "TC", "CANCELLED"),
    ("sim:signature", KEY, answer("YES"), Result.SUCCEEDED, "00", "APPROVED"),
    ("sim:signature", KEY, answer("NO"), Result.FAILED, "S2", "SIGNATURE DECLINED"),
    ("sim:result-complete", KEY, None, Result.SUCCEEDED, "00", "APPROVED"),
    ("sim:approve", "wrong", None, Result.USER_KEY_NOT_MATCHED, "p8", "INVALID USER OR KEY"),
    ("sim:http404", KEY, None, Result.TIMEOUT, None, None),
    ("sim:approve", KEY, fail, Result.SUCCEEDED, "00", "APPROVED"),  # a callback that raises
])
def test_outcome(open_client, ref, caplog, merchant_ref, key, on_screen, result, response_code, response_text):
    client = open_client()
    screens, log = [], []

    def show(screen):
        screens.append(screen)
        if on_screen:
            on_screen(client, screen)

    got = purchase(client, ref, merchant_ref, key, on_screen=show, on_log=lambda kind, entry: log.append((kind, entry)))
    assert (got.result, got.response_code, got.response_text, got.txn_ref) == (result, response_code, response_text, ref)
    assert got.approved == (result == Result.SUCCEEDED)
    if result == Result.SUCCEEDED:
        assert got.auth_code and got.masked_card_number == "411111******1111"
        assert f"REF {ref}" in got.receipt and "1" in (got.response.get("Scr/Complete"), got.response.get("Scr/Result/Complete"))
        assert screens and all(isinstance(s.state, State) for s in screens)
    assert [kind for kind, _ in log][:1] == [LogEntryType.REQUEST_CONTENT]
    assert 'key="......"' in log[0][1]
    assert not [entry for _, entry in log if KEY in entry or (key != KEY and key in entry)]
    raised = [r.getMessage() for r in caplog.records]
    assert raised == ([f"The on_screen callback of the transaction {ref} raised; the transaction goes on"]
                      * len(screens) if on_screen is fail else [])
