"""Card payments on a remotely driven payment terminal, over KOVModule's C interface.

    import kovmodule

    with kovmodule.Client("https://pay.example/wqmi3/pos.aspx", journal="payments.db") as till:
        for entry in till.pending():              # what a crash left unfinished
            book(till.recover(user, key, entry.station, entry.txn_ref))
            till.acknowledge(entry.txn_ref)
        result = till.purchase(user, key, "till-1", "T-0001", Decimal("12.50"), "AUD",
                               on_screen=show)
        book(result)                              # in the till's own records, by txn_ref
        till.acknowledge(result.txn_ref)
        if result.result == kovmodule.Result.SUCCEEDED:
            print_receipt(result.receipt)

kovmodule.Client blocks until each result; kovmodule.aio.Client has the same methods as
coroutines, for asyncio hosts. The package's errors derive from kovmodule.Error. It logs to
the "kovmodule" logger: requests (the key masked) and answers at DEBUG, retries at INFO,
failed polls at WARNING, a time-out at ERROR.
"""

from . import aio
from ._client import Client
from ._kov import ffi as _ffi
from ._kov import lib as _lib
from ._records import (
    DuplicateReferenceError,
    Error,
    JournalError,
    LogEntryType,
    LogHandler,
    PendingTransaction,
    RecoveryOptions,
    Result,
    ResultDetails,
    Screen,
    ScreenHandler,
    SignatureHandler,
    Stage,
    State,
    TransactionOptions,
    TransactionType,
    UsageError,
)
from ._till import Amount

__version__: str = _ffi.string(_lib.kov_version()).decode()
"""The version of the library underneath, "0.3.0"."""

__all__ = [
    "Amount",
    "Client",
    "DuplicateReferenceError",
    "Error",
    "JournalError",
    "LogEntryType",
    "LogHandler",
    "PendingTransaction",
    "RecoveryOptions",
    "Result",
    "ResultDetails",
    "Screen",
    "ScreenHandler",
    "SignatureHandler",
    "Stage",
    "State",
    "TransactionOptions",
    "TransactionType",
    "UsageError",
    "aio",
]
