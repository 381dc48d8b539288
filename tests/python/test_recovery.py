"""A transaction cut off at the signature step, and its recovery, with either client; and the
asyncio client's cancellation, which never drops a result silently."""

import asyncio
import datetime
import logging

import pytest
from conftest import KEY, purchase

import kovmodule
from kovmodule import PendingTransaction, Result, Stage, State, TransactionType


class Interrupted(KeyboardInterrupt):
    """Ctrl-C at the till while the terminal asks for a signature."""


def interrupt_at_signature(client):
    """Cuts the transaction off at the signature step: a Ctrl-C from on_screen interrupts the
    blocking client; the asyncio client's awaiting task (the loop's only one) is cancelled."""
    blocking = isinstance(client, kovmodule.Client)

    def on_screen(screen):
        if screen.state == State.SIGNATURE_REQUIRED:
            if blocking:
                raise Interrupted
            for task in asyncio.all_tasks():
                task.cancel()
    return on_screen, Interrupted if blocking else asyncio.CancelledError


@pytest.mark.parametrize("journalled", [True, False])
def test_a_transaction_cut_off_is_recovered(open_client, ref, tmp_path, caplog, journalled):
    journal = tmp_path / "payments.db" if journalled else None
    first = open_client(journal=journal)
    on_screen, raised = interrupt_at_signature(first)
    with pytest.raises(raised):
        purchase(first, ref, "sim:signature", on_screen=on_screen)
    where = "it stays pending in the journal" if journalled else "it is not journalled"
    assert [r.getMessage() for r in caplog.records if r.levelno == logging.WARNING] == [
        f"The transaction {ref} was abandoned before its result ({where}): recover it by its reference."]
    first.close()

    second = open_client(journal=journal)
    pending = second.pending()
    if journalled:
        assert len(pending) == 1 and datetime.datetime.now(datetime.timezone.utc) - pending[0].started_at < \
            datetime.timedelta(minutes=5)
        assert pending == [PendingTransaction(ref, TransactionType.PURCHASE, Stage.SENT, ref, "12.50", "AUD",
                                              "merchant", "sim:signature", pending[0].started_at)]
    else:
        assert pending == []
    got = second.recover("merchant", KEY, ref, ref, skip_signature=True)
    assert (got.result, got.response_text, got.txn_ref) == (Result.SUCCEEDED, "APPROVED", ref)
    assert second.pending() == []


def test_a_result_that_came_as_the_task_was_cancelled_is_returned(simulator, ref):
    async def till():
        async with kovmodule.aio.Client(simulator) as client:
            task = asyncio.current_task()

            def on_log(kind, entry):  # the final answer's entry comes just before its result
                if kind == kovmodule.LogEntryType.RESPONSE_CONTENT and "<Complete>1</Complete>" in entry:
                    task.cancel()
            got = await purchase(client, ref, on_log=on_log)
            return got, task.cancelling()

    got, cancelling = asyncio.run(till())
    assert (got.result, got.txn_ref, cancelling) == (Result.SUCCEEDED, ref, 0)
