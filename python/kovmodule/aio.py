"""The asyncio client: the same methods as kovmodule.Client, as coroutines.

The client never blocks the event loop and starts no thread: it waits on the C client's one
descriptor with loop.add_reader and on its next deadline with loop.call_later, and does the
due work in between. Callbacks (on_screen, on_log, on_signature) are plain functions called
on the loop; on_screen may call press().
"""

from __future__ import annotations

import asyncio
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
from ._till import Amount, _Run, _Till

__all__ = ["Client"]


class Client:
    """One till on the payment service at `endpoint`, for asyncio hosts.

    The arguments are those of kovmodule.Client. Use it as an async context manager, or
    await aclose(); one transaction runs at a time.

    Cancelling the task that awaits a transaction (a timeout, a shutdown) abandons the
    transaction: it ends without its result, with a journal it stays pending, and a warning
    on the "kovmodule" logger names it; recover it by its reference. A result that had
    already come when the cancellation arrived is returned instead: it is never dropped.
    """

    def __init__(self, endpoint: str, ca_file: str | os.PathLike[str] | None = None,
                 journal: str | os.PathLike[str] | None = None, *, retry_spacing: float = 0.0) -> None:
        self._till = _Till(endpoint, ca_file, journal, retry_spacing)
        self._loop: asyncio.AbstractEventLoop | None = None
        self._fd = -1
        self._timer: asyncio.TimerHandle | None = None
        self._run: _Run | None = None
        self._future: asyncio.Future[ResultDetails] | None = None

    async def __aenter__(self) -> Client:
        return self

    async def __aexit__(self, exc_type: type[BaseException] | None, exc: BaseException | None,
                        traceback: TracebackType | None) -> None:
        await self.aclose()

    async def aclose(self) -> None:
        """Ends the client; a task still awaiting a transaction gets UsageError."""
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

    async def recover(self, user: str, key: str, station: str, txn_ref: str,
                      **options: Unpack[RecoveryOptions]) -> ResultDetails:
        """Follows an earlier transaction to its result; as kovmodule.Client.recover()."""
        return await self._transact(None, user, key, station, txn_ref, None, None, options)

    def press(self, button_id: str, label: str | None = None) -> None:
        """Presses a terminal button, "B1" or "B2", with the label shown; from on_screen."""
        self._till.press(button_id, label)
        if self._loop is not None and not self._till.in_c:
            self._schedule()  # the press may have work due at once; from a callback, _process does it

    async def pending(self) -> list[PendingTransaction]:
        """The journal's transactions whose result was not delivered, the oldest first."""
        return self._till.pending()

    async def _transact(self, kind: TransactionType | None, user: str, key: str, station: str, txn_ref: str,
                        amount: Amount | None, currency: str | None,
                        options: Mapping[str, Any]) -> ResultDetails:
        loop = asyncio.get_running_loop()
        future: asyncio.Future[ResultDetails] = loop.create_future()

        def arrived(result: ResultDetails) -> None:
            if not future.done():
                future.set_result(result)

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
            self._stop_driving()
            self._till.abandon(run)
            raise
        finally:
            if self._run is run:
                self._stop_driving()

    def _process(self) -> None:
        run, future = self._run, self._future
        try:
            self._till.process()
        except Exception as error:
            if future is not None and not future.done():
                future.set_exception(error)
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
        self._loop, self._fd, self._run, self._future = None, -1, None, None
