"""The asyncio client: the same methods as kovmodule.Client, as coroutines.

The client never blocks the event loop and starts no thread: it waits on the C client's one
descriptor with loop.add_reader and on its next deadline with loop.call_later, and does the
due work in between. Callbacks (on_screen, on_log, on_signature) are plain functions called
on the loop (an async def one is refused: a callback that has a coroutine to run hands it to
the loop, with asyncio.get_running_loop().create_task()); on_screen may call press() and
cancel().
"""

from __future__ import annotations

import asyncio
import logging
import os
from collections.abc import Mapping
from types import TracebackType
from typing import Any, Unpack

from ._records import (
    PendingTransaction,
    RecoveryOptions,
    ResultDetails,
    TransactionOptions,
    TransactionType,
    UsageError,
)
from ._till import Amount, _Run, _Till, check_options

__all__ = ["Client"]

_log = logging.getLogger("kovmodule")


class Client:
    """One till on the payment service at `endpoint`, for asyncio hosts.

    The arguments are those of kovmodule.Client. Use it as an async context manager, or
    await aclose(); one transaction runs at a time. As with kovmodule.Client, record each
    result keyed by its txn_ref, then acknowledge() it: until then pending() lists it with
    its result, and after a crash recover() hands it over again.

    Cancelling the task that awaits a transaction (a timeout, a shutdown) asks the terminal
    to cancel it and raises CancelledError at once; a warning on the "kovmodule" logger names
    the transaction. The client goes on driving it in the background until its result comes
    (it stays in the journal for recover()) or the client is closed, which abandons it.
    Meanwhile recover() of its reference awaits its result, and any other transaction is
    refused. A result that had already come when the cancellation arrived is returned
    instead: it is never dropped.
    """

    def __init__(self, endpoint: str, ca_file: str | os.PathLike[str] | None = None,
                 journal: str | os.PathLike[str] | None = None, *, retry_spacing: float | None = None,
                 poll_floor: float | None = None, deadline: float | None = None) -> None:
        self._till = _Till(endpoint, ca_file, journal, retry_spacing, poll_floor, deadline)
        self._loop: asyncio.AbstractEventLoop | None = None
        self._fd = -1
        self._timer: asyncio.TimerHandle | None = None
        self._run: _Run | None = None
        self._future: asyncio.Future[ResultDetails] | None = None
        self._cancelled: _Run | None = None  # driven on after its caller's task was cancelled

    async def __aenter__(self) -> Client:
        return self

    async def __aexit__(self, exc_type: type[BaseException] | None, exc: BaseException | None,
                        traceback: TracebackType | None) -> None:
        await self.aclose()

    async def aclose(self) -> None:
        """Ends the client; a task still awaiting a transaction gets UsageError, and a
        cancelled transaction still at the terminal is abandoned."""
        run, future = self._run, self._future
        self._stop_driving()
        self._till.close()
        if run and future and not future.done():
            future.set_exception(UsageError(f"the client was closed before the result of {run.txn_ref} came"))

    async def purchase(self, user: str, key: str, station: str, txn_ref: str, amount: Amount | None,
                       currency: str | None, **options: Unpack[TransactionOptions]) -> ResultDetails:
        """Takes a payment; as kovmodule.Client.purchase()."""
        return await self._transact(TransactionType.PURCHASE, user, key, station, txn_ref, amount, currency, options)

    async def auth(self, user: str, key: str, station: str, txn_ref: str, amount: Amount | None,
                   currency: str | None, **options: Unpack[TransactionOptions]) -> ResultDetails:
        """Authorises an amount; as kovmodule.Client.auth()."""
        return await self._transact(TransactionType.AUTH, user, key, station, txn_ref, amount, currency, options)

    async def complete(self, user: str, key: str, station: str, txn_ref: str, amount: Amount | None,
                       currency: str | None, **options: Unpack[TransactionOptions]) -> ResultDetails:
        """Completes an authorisation; as kovmodule.Client.complete()."""
        return await self._transact(TransactionType.COMPLETE, user, key, station, txn_ref, amount, currency, options)

    async def refund(self, user: str, key: str, station: str, txn_ref: str, amount: Amount | None,
                     currency: str | None, **options: Unpack[TransactionOptions]) -> ResultDetails:
        """Refunds an amount; as kovmodule.Client.refund()."""
        return await self._transact(TransactionType.REFUND, user, key, station, txn_ref, amount, currency, options)

    async def void(self, user: str, key: str, station: str, txn_ref: str, amount: Amount | None,
                   currency: str | None, **options: Unpack[TransactionOptions]) -> ResultDetails:
        """Voids a transaction; as kovmodule.Client.void()."""
        return await self._transact(TransactionType.VOID, user, key, station, txn_ref, amount, currency, options)

    async def recover(self, user: str | None, key: str, station: str | None, txn_ref: str,
                      **options: Unpack[RecoveryOptions]) -> ResultDetails:
        """Follows an earlier transaction to its result; as kovmodule.Client.recover().

        For the cancelled transaction still at the terminal, it awaits that transaction's
        result; its on_screen and on_signature get the screens from then on.
        """
        return await self._transact(None, user, key, station, txn_ref, None, None, options)

    def press(self, button_id: str, label: str | None = None) -> None:
        """Presses a terminal button, "B1" or "B2", with the label shown; from on_screen."""
        self._till.press(button_id, label)
        if self._loop is not None and not self._till.in_c:
            self._schedule()  # the press may have work due at once; from a callback, _process does it

    def cancel(self) -> None:
        """Asks the terminal to cancel the running transaction; as kovmodule.Client.cancel().

        The awaiting coroutine still returns the transaction's result. A plain method, which
        may be called from a callback or from another thread.
        """
        # The request wakes the client's descriptor: the loop's reader takes it from there.
        self._till.cancel()

    async def acknowledge(self, txn_ref: str) -> None:
        """Says that the result of `txn_ref` is recorded; as kovmodule.Client.acknowledge()."""
        self._till.acknowledge(txn_ref)

    async def forget(self, txn_ref: str) -> None:
        """Removes `txn_ref` from the journal; as kovmodule.Client.forget()."""
        self._till.forget(txn_ref)

    async def pending(self) -> list[PendingTransaction]:
        """The journal's transactions not acknowledged yet; as kovmodule.Client.pending()."""
        return self._till.pending()

    async def _transact(self, kind: TransactionType | None, user: str | None, key: str, station: str | None,
                        txn_ref: str, amount: Amount | None, currency: str | None,
                        options: Mapping[str, Any]) -> ResultDetails:
        loop = asyncio.get_running_loop()
        future: asyncio.Future[ResultDetails] = loop.create_future()

        def arrived(result: ResultDetails) -> None:
            if not future.done():
                future.set_result(result)

        run = self._cancelled
        if run is not None:
            if kind is not None or txn_ref != run.txn_ref:
                raise UsageError(f"the cancelled transaction {run.txn_ref} still runs at the terminal: "
                                 "recover it first")
            check_options(True, options)
            run.follow(options, arrived)
            self._future = future
        else:
            run = self._till.begin(kind, user, key, station, txn_ref, amount, currency, options, arrived)
            self._loop, self._run, self._future = loop, run, future
            self._fd = self._till.fd()
            loop.add_reader(self._fd, self._process)
            self._schedule()
        try:
            return await future
        except asyncio.CancelledError:
            if run.result is not None:
                # The payment is settled: its result goes to the caller, the cancellation
                # is refused (and taken back, as asyncio asks of a task that refuses one).
                task = asyncio.current_task()
                if task is not None:
                    task.uncancel()
                return run.result
            # Abandoning it here would leave the terminal taking the card: the CANCEL press
            # goes out from the loop, and the outcome stays to be recovered.
            if self._till.cancel():
                _log.warning("The task awaiting the transaction %s was cancelled: the terminal is asked to cancel "
                             "it; recover it by its reference for its outcome.", run.txn_ref,
                             extra={"txn_ref": run.txn_ref})
                self._cancelled = run
            else:  # the client no longer holds it: nothing is left to drive
                self._stop_driving()
                self._till.abandon(run)
            raise
        finally:
            if self._run is run and self._cancelled is not run:
                self._stop_driving()

    def _process(self) -> None:
        run, future = self._run, self._future
        try:
            self._till.process()
        except Exception as error:
            if future is not None and not future.done():
                future.set_exception(error)
            return
        if run is not None and run.result is not None and self._cancelled is run:
            self._stop_driving()  # the cancelled transaction ended: its result is in the journal
            return
        if run is not None and run.interrupt is not None and run.result is None:
            raise run.interrupt  # KeyboardInterrupt or SystemExit from a callback stops the loop
        if run is not None and run.result is None:
            self._schedule()

    def _schedule(self) -> None:
        if self._timer is not None:
            self._timer.cancel()
            self._timer = None
        if self._loop is not None:
            due_ms = self._till.timeout_ms()
            if due_ms >= 0:
                self._timer = self._loop.call_later(due_ms / 1000, self._process)

    def _stop_driving(self) -> None:
        if self._timer is not None:
            self._timer.cancel()
            self._timer = None
        if self._loop is not None and self._fd >= 0:
            self._loop.remove_reader(self._fd)
        self._loop, self._fd, self._run, self._future, self._cancelled = None, -1, None, None, None
