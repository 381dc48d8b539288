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
    refused with UsageError. `ca_file` is a PEM file of CAs that this client trusts besides
    the system's (no other client does); a file that cannot be opened raises as open() does
    (FileNotFoundError ...). With `journal`, the path of an SQLite file (created when
    missing), every transaction is journalled: a till that crashes or is interrupted lists
    the unfinished ones with pending() and recovers them; a journal that cannot be used
    raises JournalError.

    Pacing, in seconds (None: the library's default): `retry_spacing` spaces the poll after a
    failed one (by default a growing delay, nine failures spanning at least 10 s; 0 at once);
    `poll_floor` is the least time between two polls (0.2 by default; 0 at once); `deadline`
    is how long a transaction may run without a final answer (600 by default), after which
    the terminal is asked to cancel and the result is TIMEOUT unless a final answer follows.

    Every result is delivered at least once: record it in your own books, keyed by its
    txn_ref, then acknowledge() it. Until then pending() lists it with its result, and after
    a crash recover() hands the same result over again.

    Use it from one thread at a time (a client per thread for more; cancel() excepted), and
    close it, or use it as a context manager. The merchant key is used for the call it is
    given to only: it never appears in a log entry, an error or a result.
    """

    def __init__(self, endpoint: str, ca_file: str | os.PathLike[str] | None = None,
                 journal: str | os.PathLike[str] | None = None, *, retry_spacing: float | None = None,
                 poll_floor: float | None = None, deadline: float | None = None) -> None:
        self._till = _Till(endpoint, ca_file, journal, retry_spacing, poll_floor, deadline)

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

        Returns its one result; record it, then acknowledge() it. A record that would not
        arrive as given (more than two decimals, a negative amount, no amount or currency, an
        empty user, key or reference, control characters) raises UsageError, and a reference
        the journal holds for a payment that ended or for another payment raises
        DuplicateReferenceError, both before anything is sent. Started again with the same
        fields after an interruption, a payment is not taken twice: the call follows the
        first to its outcome. After Result.TIMEOUT, recover() it by `txn_ref`.

        A first Ctrl-C while it waits asks the terminal to cancel (see cancel()) and waits on
        for the result, which may still be an approval; a second one abandons the
        transaction (with a journal it stays pending) and is raised.
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

    def recover(self, user: str | None, key: str, station: str | None, txn_ref: str,
                **options: Unpack[RecoveryOptions]) -> ResultDetails:
        """Follows the earlier transaction `txn_ref` to its result.

        With a journal that holds its result, the result comes at once, without asking the
        service; the journal's station and user are used when `station` or `user` is None,
        and others are refused. Recover every pending() transaction, and every TIMEOUT,
        before telling the customer anything; acknowledge() each result once recorded. A
        result other than approved or not approved (`reason` says why) leaves it pending.
        """
        return self._till.wait(self._till.begin(None, user, key, station, txn_ref, None, None, options))

    def press(self, button_id: str, label: str | None = None) -> None:
        """Presses a terminal button, "B1" or "B2", with the label shown; from on_screen."""
        self._till.press(button_id, label)

    def cancel(self) -> None:
        """Asks the terminal to cancel the running transaction; nothing runs, nothing happens.

        The terminal's CANCEL is pressed now, or when it shows one. The transaction method
        still returns the transaction's result: cancelled (Result.FAILED), or approved when
        it was too late to stop. May be called from a callback or from another thread.
        """
        self._till.cancel()

    def acknowledge(self, txn_ref: str) -> None:
        """Says that the result of `txn_ref` is recorded in your own books.

        Call it once the result is safe on your side: until then the journal keeps it,
        pending() lists it with its result, and after a crash recover() hands it over again.
        A reference the journal does not hold, or still has to recover, changes nothing.
        """
        self._till.acknowledge(txn_ref)

    def forget(self, txn_ref: str) -> None:
        """Removes `txn_ref` from the journal, whatever its stage: for an operator who
        settled it by other means. UsageError without a journal, for a reference it does not
        hold, or for the transaction running now."""
        self._till.forget(txn_ref)

    def pending(self) -> list[PendingTransaction]:
        """The journal's transactions not acknowledged yet, the oldest first: those still to
        be recovered (Stage.SENT) and those whose result waits for acknowledge()."""
        return self._till.pending()

    def _transact(self, kind: TransactionType, user: str, key: str, station: str, txn_ref: str,
                  amount: Amount | None, currency: str | None, options: Mapping[str, Any]) -> ResultDetails:
        return self._till.wait(self._till.begin(kind, user, key, station, txn_ref, amount, currency, options))
