"""What crosses the package's boundary: enumerations, records and errors."""

from __future__ import annotations

import datetime
import enum
import types
from collections.abc import Callable, Mapping
from dataclasses import dataclass, field
from decimal import Decimal
from typing import TypedDict

from ._kov import lib


class _CEnum(enum.IntEnum):
    """An IntEnum over the C interface's constants.

    A value this package does not know (from a newer library) becomes a member named
    UNKNOWN_<value> instead of an error, so that no result is lost to a conversion.
    """

    @classmethod
    def _missing_(cls, value: object) -> _CEnum | None:
        if not isinstance(value, int):
            return None
        member = int.__new__(cls, value)
        member._name_ = f"UNKNOWN_{value}"
        member._value_ = value
        return member


class Result(_CEnum):
    """The outcome of a transaction (KOVTransactionResult).

    After TIMEOUT the outcome is unknown, the terminal may have approved: recover the
    transaction by its reference before telling the customer anything.
    """

    SUCCEEDED = lib.KOV_RESULT_SUCCEEDED
    FAILED = lib.KOV_RESULT_FAILED
    INVALID_TRANSACTION_TYPE = lib.KOV_RESULT_INVALID_TRANSACTION_TYPE
    USER_KEY_NOT_MATCHED = lib.KOV_RESULT_USER_KEY_NOT_MATCHED
    STATION_PREFIX_ERROR = lib.KOV_RESULT_STATION_PREFIX_ERROR
    EXISTING_REQUEST_IN_PROGRESS = lib.KOV_RESULT_EXISTING_REQUEST_IN_PROGRESS
    TRANSMIT_ERROR = lib.KOV_RESULT_TRANSMIT_ERROR
    SESSION_INIT_ERROR = lib.KOV_RESULT_SESSION_INIT_ERROR
    USER_ID_NOT_MATCHED = lib.KOV_RESULT_USER_ID_NOT_MATCHED
    TERMINAL_NOT_CONNECTED = lib.KOV_RESULT_TERMINAL_NOT_CONNECTED
    TIMEOUT = lib.KOV_RESULT_TIMEOUT


class State(_CEnum):
    """What the terminal's screen asks for (KOVState)."""

    INIT = lib.KOV_STATE_INIT
    AWAITING_CARD_SWIPE = lib.KOV_STATE_AWAITING_CARD_SWIPE
    AWAITING_ACCOUNT_SELECTION = lib.KOV_STATE_AWAITING_ACCOUNT_SELECTION
    AWAITING_PIN_ENTRY = lib.KOV_STATE_AWAITING_PIN_ENTRY
    PROCESSING = lib.KOV_STATE_PROCESSING
    SIGNATURE_REQUIRED = lib.KOV_STATE_SIGNATURE_REQUIRED
    ACCEPTED = lib.KOV_STATE_ACCEPTED
    DECLINED = lib.KOV_STATE_DECLINED
    CANCELLED = lib.KOV_STATE_CANCELLED
    ERROR = lib.KOV_STATE_ERROR


class TransactionType(_CEnum):
    """The kinds of transaction (KOVTransactionType)."""

    PURCHASE = lib.KOV_PURCHASE
    AUTH = lib.KOV_AUTH
    COMPLETE = lib.KOV_COMPLETE
    REFUND = lib.KOV_REFUND
    VOID = lib.KOV_VOID


class LogEntryType(_CEnum):
    """The kinds of debug log entry (KOVTransactionLogEntryType)."""

    REQUEST_CONTENT = lib.KOV_LOG_REQUEST
    RESPONSE_CONTENT = lib.KOV_LOG_RESPONSE
    ERROR = lib.KOV_LOG_ERROR
    INFO = lib.KOV_LOG_INFO


class Stage(_CEnum):
    """How far a journalled transaction got.

    SENT: under way, its outcome unknown. ANSWERED: its result arrived and waits for the
    host's acknowledge(). DELIVERED: acknowledged, no longer pending.
    """

    SENT = lib.KOV_STAGE_SENT
    ANSWERED = lib.KOV_STAGE_ANSWERED
    DELIVERED = lib.KOV_STAGE_DELIVERED


class Error(Exception):
    """The base of the package's own errors. The text says why; it never holds the key."""


class UsageError(Error, ValueError):
    """Input the library refuses: nothing was sent. The text says why."""


class DuplicateReferenceError(UsageError):
    """The journal holds the reference for a payment that ended, or for another payment.

    Nothing was sent: a reference names one payment for good. A start of a payment the
    journal holds unfinished, with the same type, amount, currency, station and user, is no
    duplicate: it follows that payment to its outcome instead of paying twice.
    """


class JournalError(Error, OSError):
    """The journal cannot be opened, read or written. The text names the file and the reason.

    When the system refused the file itself (a missing folder, no permission), `errno` is
    the system's code (errno.ENOENT ...), `strerror` its text and `filename` the journal's
    path; otherwise (a file that is no journal, a full disk) `errno` is None.
    """

    def __str__(self) -> str:
        # The library's own text ("PATH: No such file or directory"), not OSError's
        # "[Errno 2] ..." form built from the attributes.
        return str(self.args[0]) if len(self.args) == 1 else super().__str__()


@dataclass(frozen=True)
class Screen:
    """What the terminal shows, as handed to on_screen."""

    state: State
    line1: str
    line2: str
    button1: str | None = None
    """The first button's label; None when it is not shown."""
    button2: str | None = None
    receipt: str | None = None
    """The receipt, cut into lines ended by CR LF, when the screen carries one."""


@dataclass(frozen=True)
class ResultDetails:
    """A transaction's one result (KOVTransactionResultDetails).

    Only `result` is always set; the service's other fields are None when its answer did
    not hold them. `response` holds every key of the final answer.
    """

    result: Result
    txn_ref: str = ""
    auth_code: str | None = None
    masked_card_number: str | None = None
    card_name: str | None = None
    response_text: str | None = None
    response_code: str | None = None
    receipt: str | None = None
    transaction_date: str | None = None
    retrieval_ref_number: str | None = None
    expected_settlement_date: str | None = None
    expected_settlement_date_time_zone: str | None = None
    transaction_date_time_zone: str | None = None
    pix: str | None = None
    rid: str | None = None
    qel_txn_ref: str | None = None
    card_number2: str | None = None
    qel_billing_id: str | None = None
    receipt_line_width: int = 0
    response: Mapping[str, str] = field(default_factory=lambda: types.MappingProxyType({}))
    reason: str | None = None
    """Why the result is not the service's answer about the payment, in plain words: the last
    failure before TIMEOUT ("connection refused by 127.0.0.1:8080"), a recovery the service
    refused (the payment stays pending). None for an answer about the payment."""
    request_sent: bool = True
    """False when the transaction request provably never reached the service: nothing can
    have been charged. True when it can have."""

    @property
    def approved(self) -> bool:
        """Whether the payment was approved (`result` is SUCCEEDED, whose value is 0)."""
        return self.result == Result.SUCCEEDED


@dataclass(frozen=True)
class PendingTransaction:
    """A transaction of the journal whose result has not been acknowledged: recover it.

    At Stage.SENT its outcome is still to be learnt; at Stage.ANSWERED its result arrived
    (`result`) and recover() hands it over again without asking the service.
    """

    txn_ref: str
    type: TransactionType | None
    """None for a recovery of a reference the journal did not know."""
    stage: Stage
    station: str | None
    amount: Decimal | None
    """The amount as it was sent ("12.50" is Decimal("12.50"))."""
    currency: str | None
    user: str | None
    merchant_ref: str | None
    started_at: datetime.datetime
    """When it started, in UTC."""
    result: Result | None = None
    """At Stage.ANSWERED, the result that arrived and waits for acknowledge(); else None."""
    request_sent: bool = True
    """False when its transaction request provably never left: nothing can have been charged."""


ScreenHandler = Callable[[Screen], None]
"""on_screen: called with every screen of the terminal."""
LogHandler = Callable[[LogEntryType, str], None]
"""on_log: called with each debug log entry, its kind and its text."""
SignatureHandler = Callable[[str | None], None]
"""on_signature: called with the receipt as the terminal asks for a signature."""


class RecoveryOptions(TypedDict, total=False):
    """The keywords of recover(), and of every transaction: its callbacks and the signature.

    on_screen receives every screen of the terminal and may call the client's press();
    on_log receives the debug log's entries (requests with the key masked, answers, failed
    polls, retries), as the "kovmodule" logger does; on_signature receives the receipt as
    the terminal asks for a signature. Each is a plain function: an async def one is refused
    with TypeError, as nothing would await it. A callback that raises does not stop the
    transaction: its exception is logged to the "kovmodule" logger and the transaction goes
    on to its result.
    """

    skip_signature: bool
    """Answer the signature step with YES on the operator's behalf."""
    on_screen: ScreenHandler | None
    on_log: LogHandler | None
    on_signature: SignatureHandler | None


class TransactionOptions(RecoveryOptions, total=False):
    """The optional fields of a new transaction, all keywords, besides RecoveryOptions."""

    merchant_ref: str | None
    qel_txn_ref: str | None
    device_id: str | None
    pos_name: str | None
    pos_version: str | None
    vendor_id: str | None
    url_success: str | None
    url_fail: str | None
