"""The blocking client: each transaction method returns once the result has come."""

from __future__ import annotations

import os
from collections.abc import Mapping
from types import TracebackType
from typing import Any, Unpack

from ._records import PendingTransaction, RecoveryOptions, ResultDetails, TransactionOptions, TransactionType
from ._till import Amount, _Till


class Client:
    """One till on the payment service at `endpoint`, blocking until each result.

    `endpoint` is an https URL, or http to this machine only (the simulator); any other is
    refused with UsageError. `ca_file` is a PEM file of CAs to trust besides the system's,
    a setting of the whole process. With `journal`, the path of an SQLite file (created
    when missing), every transaction is journalled: a till that crashes or is interrupted
    lists the unfinished ones with pending() and recovers them. `retry_spacing` spaces the
    polls after a failed one (seconds; 2 suits a gateway in front of the service).

    Use it from one thread at a time (a client per thread for more), and close it, or use
    it as a context manager. The merchant key is used for the call it is given to only: it
    never appears in a log entry, an error or a result.
    """

    def __init__(self, endpoint: str, ca_file: str | os.PathLike[str] | None = None,
                 journal: str | os.PathLike[str] | None = None, *, retry_spacing: float = 0.0) -> None:
        self._till = _Till(endpoint, ca_file, journal, retry_spacing)

    def __enter__(self) -> Client:
        return self

    def __exit__(self, exc_type: type[BaseException] | None, exc: BaseException | None,
                 traceback: TracebackType | None) -> None:
        self.close()

    def close(self) -> None:
        """Ends the client. Calling it again does nothing."""
        self._till.close()

    def purchase(self, user: str, key: str, station: str, txn_ref: str, amount: Amount | None,
                 currency: str | None, **options: Unpack[TransactionOptions]) -> ResultDetails:
        """Takes a payment of `amount` in `currency` on the terminal of `station`.

        Returns its one result. A refused record raises UsageError before anything is sent;
        a record the engine cannot send as given (text XML cannot carry, a reference the
        journal holds) comes back as Result.FAILED with the reason as `response_text`. After
        Result.TIMEOUT, recover() it by `txn_ref`. Interrupted (Ctrl-C), the transaction is
        abandoned: with a journal it stays pending.
        """
        return self._transact(TransactionType.PURCHASE, user, key, station, txn_ref, amount, currency, options)

    def auth(self, user: str, key: str, station: str, txn_ref: str, amount: Amount | None,
             currency: str | None, **options: Unpack[TransactionOptions]) -> ResultDetails:
        """Authorises `amount` without taking it; complete() takes it later. As purchase()."""
        return self._transact(TransactionType.AUTH, user, key, station, txn_ref, amount, currency, options)

    def complete(self, user: str, key: str, station: str, txn_ref: str, amount: Amount | None,
                 currency: str | None, **options: Unpack[TransactionOptions]) -> ResultDetails:
        """Completes an earlier authorisation. As purchase()."""
        return self._transact(TransactionType.COMPLETE, user, key, station, txn_ref, amount, currency, options)

    def refund(self, user: str, key: str, station: str, txn_ref: str, amount: Amount | None,
               currency: str | None, **options: Unpack[TransactionOptions]) -> ResultDetails:
        """Refunds `amount` to a card. As purchase()."""
        return self._transact(TransactionType.REFUND, user, key, station, txn_ref, amount, currency, options)

    def void(self, user: str, key: str, station: str, txn_ref: str, amount: Amount | None,
             currency: str | None, **options: Unpack[TransactionOptions]) -> ResultDetails:
        """Voids an earlier transaction. As purchase()."""
        return self._transact(TransactionType.VOID, user, key, station, txn_ref, amount, currency, options)

    def recover(self, user: str, key: str, station: str, txn_ref: str,
                **options: Unpack[RecoveryOptions]) -> ResultDetails:
        """Follows the earlier transaction `txn_ref` to its result.

        With a journal that holds its result, the result comes at once, without asking the
        service. Recover every pending() transaction, and every TIMEOUT, before telling the
        customer anything.
        """
        return self._till.wait(self._till.begin(None, user, key, station, txn_ref, None, None, options))

    def press(self, button_id: str, label: str | None = None) -> None:
        """Presses a terminal button, "B1" or "B2", with the label shown; from on_screen."""
        self._till.press(button_id, label)

    def pending(self) -> list[PendingTransaction]:
        """The journal's transactions whose result was not delivered, the oldest first."""
        return self._till.pending()

    def _transact(self, kind: TransactionType, user: str, key: str, station: str, txn_ref: str,
                  amount: Amount | None, currency: str | None, options: Mapping[str, Any]) -> ResultDetails:
        return self._till.wait(self._till.begin(kind, user, key, station, txn_ref, amount, currency, options))
