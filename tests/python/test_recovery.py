"""Transactions cut off, cancelled or left unacknowledged, and their recovery, with either
client: a result is never lost, never paid twice, and handed over until acknowledged."""

import asyncio
import datetime
import decimal
import logging
import os
import subprocess
import sys
import threading

import pytest
from conftest import KEY, kind, purchase, received

import kovmodule
from kovmodule import PendingTransaction, Result, Stage, State, TransactionType


class Interrupted(KeyboardInterrupt):
    """Ctrl-C at the till."""


def asked_to_cancel(client, ref):
    """The warning of a caller who stops waiting: Ctrl-C, or a cancelled task."""
    if kind(client) == "sync":
        return f"The terminal is asked to cancel the transaction {ref}, whose result is awaited: interrupt again to " \
               "abandon it."
    return f"The task awaiting the transaction {ref} was cancelled: the terminal is asked to cancel it; recover it " \
           "by its reference for its outcome."


def interrupt(client):
    """Stops waiting, from a callback: a Ctrl-C in the blocking client; the asyncio client's
    awaiting task (the loop's only one) is cancelled."""
    if kind(client) == "sync":
        raise Interrupted
    for task in asyncio.all_tasks():
        task.cancel()


def warnings(caplog):
    return [r.getMessage() for r in caplog.records if r.levelno == logging.WARNING]


@pytest.mark.parametrize("journalled", [True, False])
def test_a_transaction_cut_off_is_recovered(open_client, ref, tmp_path, caplog, journalled):
    journal = tmp_path / "payments.db" if journalled else None
    first = open_client(journal=journal)
    raised = Interrupted if kind(first) == "sync" else asyncio.CancelledError

    def on_screen(screen):  # no CANCEL at the signature step: a second Ctrl-C abandons
        if screen.state == State.SIGNATURE_REQUIRED:
            interrupt(first)
    with pytest.raises(raised):
        purchase(first, ref, "sim:signature", on_screen=on_screen)
    first.close()  # what the asyncio client still drives goes with it
    where = "it stays pending in the journal" if journalled else "it is not journalled"
    assert warnings(caplog) == [
        asked_to_cancel(first, ref),
        f"The transaction {ref} was abandoned before its result ({where}): recover it by its reference."]

    second = open_client(journal=journal)
    assert [(p.txn_ref, p.stage, p.merchant_ref) for p in second.pending()] == \
        ([(ref, Stage.SENT, "sim:signature")] if journalled else [])
    got = second.recover("merchant", KEY, ref, ref, skip_signature=True)
    assert (got.result, got.response_text, got.txn_ref) == (Result.SUCCEEDED, "APPROVED", ref)
    second.acknowledge(ref)
    assert second.pending() == []


def cancelling(client, how):
    """An on_screen that stops the transaction once, at the first card screen."""
    asked = threading.Event()
    if how == "from another thread":
        threading.Thread(target=lambda: asked.wait(30) and client.cancel(), daemon=True).start()

    def on_screen(screen):
        if screen.state != State.AWAITING_CARD_SWIPE or asked.is_set():
            return
        asked.set()
        if how == "cancel()":
            client.cancel()
        elif how == "interrupt":
            interrupt(client)
    return on_screen


@pytest.mark.parametrize("merchant_ref, how, result, response_code", [
    ("sim:approve", "cancel()", Result.FAILED, "TC"),
    ("sim:approve", "from another thread", Result.FAILED, "TC"),
    # The card was authorised before the press reached the terminal: too late to stop, and the
    # caller who stopped waiting gets the approval.
    ("sim:late-cancel", "interrupt", Result.SUCCEEDED, "00"),
    ("sim:approve", "before it starts", Result.SUCCEEDED, "00"),  # asks nothing of the next one
])
def test_a_cancelled_transaction_ends_with_the_services_result(open_client, slow_simulator, ref, tmp_path, caplog,
                                                               merchant_ref, how, result, response_code):
    client = open_client(slow_simulator, journal=tmp_path / "payments.db")
    on_screen = cancelling(client, how)
    if how == "before it starts":
        client.cancel()
    if how == "interrupt" and kind(client) == "aio":
        # The task raises at once; the client drives the transaction on, for recover().
        with pytest.raises(asyncio.CancelledError):
            purchase(client, ref, merchant_ref, on_screen=on_screen)
        with pytest.raises(kovmodule.UsageError) as refused:
            purchase(client, ref + "-2")
        assert str(refused.value) == f"the cancelled transaction {ref} still runs at the terminal: recover it first"
        got = client.recover("merchant", KEY, ref, ref)
    else:
        got = purchase(client, ref, merchant_ref, on_screen=on_screen)
    assert (got.result, got.response_code, got.txn_ref, got.reason) == (result, response_code, ref, None)
    assert warnings(caplog) == ([asked_to_cancel(client, ref)] if how == "interrupt" else [])
    counts = received(slow_simulator, ref)
    assert (counts["Purchase"], counts["UI"]) == (1, int(how != "before it starts"))  # the CANCEL press went out
    assert [(p.stage, p.result) for p in client.pending()] == [(Stage.ANSWERED, result)]


# A host that runs one purchase with the client of its kind and dies at the card screen.
DYING_HOST = """
import asyncio, os, sys
import kovmodule

kind, endpoint, journal, ref = sys.argv[1:]

def on_screen(screen):
    if screen.state == kovmodule.State.AWAITING_CARD_SWIPE:
        os._exit(0)

args = ("merchant", os.environ["KOV_KEY"], ref, ref, "12.50", "AUD")
options = {"merchant_ref": "sim:approve", "on_screen": on_screen}
if kind == "sync":
    kovmodule.Client(endpoint, journal=journal).purchase(*args, **options)
else:
    asyncio.run(kovmodule.aio.Client(endpoint, journal=journal).purchase(*args, **options))
"""


def test_a_host_that_died_recovers_its_payment_and_nothing_is_sent_twice(open_client, simulator, ref, tmp_path):
    """The journal lists it as sent; the recovery follows the first to its outcome, and the
    result waits for the host to settle it (here as an operator who settled it by other means)."""
    journal = tmp_path / "payments.db"
    subprocess.run([sys.executable, "-c", DYING_HOST, open_client.kind, simulator, str(journal), ref],
                   env={**os.environ, "KOV_KEY": KEY}, check=True, timeout=60)
    client = open_client(journal=journal)
    pending = client.pending()
    assert len(pending) == 1 and datetime.datetime.now(datetime.timezone.utc) - pending[0].started_at < \
        datetime.timedelta(minutes=5)
    assert pending == [PendingTransaction(ref, TransactionType.PURCHASE, Stage.SENT, ref, decimal.Decimal("12.50"),
                                          "AUD", "merchant", "sim:approve", pending[0].started_at, None, True)]
    statuses = received(simulator, ref)["Status"]
    got = client.recover(None, KEY, None, ref)  # without user or station: the journal's
    assert (got.result, got.response_text, got.txn_ref, got.request_sent) == (Result.SUCCEEDED, "APPROVED", ref, True)
    counts = received(simulator, ref)
    assert counts["Purchase"] == 1 and counts["Status"] > statuses
    assert [(p.stage, p.result) for p in client.pending()] == [(Stage.ANSWERED, Result.SUCCEEDED)]
    client.forget(ref)
    assert client.pending() == []


def test_a_result_that_came_as_the_task_was_cancelled_is_returned(simulator, ref):
    async def till():
        async with kovmodule.aio.Client(simulator) as client:
            task = asyncio.current_task()

            def on_log(entry_type, entry):  # the final answer's entry comes just before its result
                if entry_type == kovmodule.LogEntryType.RESPONSE_CONTENT and "<Complete>1</Complete>" in entry:
                    task.cancel()
            got = await purchase(client, ref, on_log=on_log)
            return got, task.cancelling()

    got, cancelling = asyncio.run(till())
    assert (got.result, got.txn_ref, cancelling) == (Result.SUCCEEDED, ref, 0)


def test_a_client_given_a_ca_file_trusts_it_again_after_an_abandon(tls_simulator, tmp_path, ref):
    """Trust is the handle's own: the fresh handle opened after an abandon is given the file
    again, and a client never given it refuses the certificate before sending anything."""
    trusting = kovmodule.Client(tls_simulator, ca_file=tmp_path / "ca.pem", retry_spacing=0, poll_floor=0)

    def on_screen(screen):
        if screen.state == State.SIGNATURE_REQUIRED:
            raise Interrupted
    with pytest.raises(Interrupted):  # asked to cancel, then abandoned: no CANCEL at this step
        purchase(trusting, ref, "sim:signature", on_screen=on_screen)
    assert purchase(trusting, ref + "-2", "sim:approve").result == Result.SUCCEEDED
    trusting.close()
    with kovmodule.Client(tls_simulator, retry_spacing=0, poll_floor=0) as other:
        got = purchase(other, ref + "-3", "sim:approve")
    assert (got.result, got.request_sent, got.reason.split(":")[0]) == (Result.TIMEOUT, False, "certificate not trusted")
