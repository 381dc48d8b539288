"""One till over the C interface: the kov_client handle, the records that cross it and the
callbacks it makes. Both clients, the blocking one and the asyncio one, drive a _Till."""

from __future__ import annotations

import contextlib
import datetime
import errno
import inspect
import logging
import os
import threading
import types
from collections.abc import Callable, Iterator, Mapping
from decimal import Decimal
from typing import TYPE_CHECKING, Any, Union

from ._kov import ffi, lib
from ._records import (
    DuplicateReferenceError,
    Error,
    JournalError,
    LogEntryType,
    LogHandler,
    PendingTransaction,
    Result,
    ResultDetails,
    Screen,
    ScreenHandler,
    SignatureHandler,
    Stage,
    State,
    TransactionType,
    UsageError,
)

if TYPE_CHECKING:
    from ._kov import kov_pending_transaction, kov_result, kov_screen

Amount = Union[Decimal, int, str]
"""An amount: a Decimal, an int or plain decimal text such as "12.50" (never a float)."""

_log = logging.getLogger("kovmodule")

_CALLBACKS = ("on_screen", "on_log", "on_signature")
_RECOVERY_KEYWORDS = frozenset({"skip_signature", *_CALLBACKS})
_OPTIONAL_TEXTS = ("merchant_ref", "qel_txn_ref", "device_id", "pos_name", "pos_version", "vendor_id",
                   "url_success", "url_fail")
_TRANSACTION_KEYWORDS = _RECOVERY_KEYWORDS | frozenset(_OPTIONAL_TEXTS)
# The result record's texts, named as the members of kov_result, with the key of the final
# answer each comes from: the library fills a key the answer did not hold with "", which only
# the answer itself tells from a text the service sent empty.
_ANSWER_KEYS = {
    "auth_code": "Scr/Result/AC",
    "masked_card_number": "Scr/Result/CN",
    "card_name": "Scr/Result/CT",
    "response_text": "Scr/Result/RT",
    "response_code": "Scr/Result/RC",
    "receipt": "Scr/Result/Rcpt",
    "transaction_date": "Scr/Result/DT",
    "retrieval_ref_number": "Scr/Result/RRN",
    "expected_settlement_date": "Scr/Result/DS",
    "expected_settlement_date_time_zone": "Scr/Result/DS_TZ",
    "transaction_date_time_zone": "Scr/Result/DT_TZ",
    "pix": "Scr/Result/PIX",
    "rid": "Scr/Result/RID",
    "qel_txn_ref": "Scr/Result/TR",
    "card_number2": "Scr/Result/CN2",
    "qel_billing_id": "Scr/Result/DBID",
}
_ERRORS: dict[int, type[Exception]] = {
    lib.KOV_ERROR_INVALID_ARGUMENT: UsageError,
    lib.KOV_ERROR_BUSY: UsageError,
    lib.KOV_ERROR_IDLE: UsageError,
    lib.KOV_ERROR_DUPLICATE_REFERENCE: DuplicateReferenceError,
    lib.KOV_ERROR_NO_MEMORY: MemoryError,
}
# The levels of the debug log's entries on the "kovmodule" logger: a failed poll (or another
# error the transaction survives) is a warning; requests and answers are for debugging.
_LEVELS = {
    LogEntryType.REQUEST_CONTENT: logging.DEBUG,
    LogEntryType.RESPONSE_CONTENT: logging.DEBUG,
    LogEntryType.ERROR: logging.WARNING,
    LogEntryType.INFO: logging.INFO,
}
# How long the blocking client stays in C at a time: signal handlers (Ctrl-C) run between.
_WAIT_SLICE_MS = 100
_EPOCH = datetime.datetime(1970, 1, 1, tzinfo=datetime.timezone.utc)


def _text(pointer: Any) -> str | None:
    return None if pointer == ffi.NULL else ffi.string(pointer).decode("utf-8", "replace")


def _amount_text(amount: Amount | None) -> str | None:
    if amount is None or isinstance(amount, str):
        return amount
    if isinstance(amount, Decimal):
        return format(amount, "f")
    if isinstance(amount, int) and not isinstance(amount, bool):
        return str(amount)
    why = ": a float is not exact" if isinstance(amount, float) else ""
    raise TypeError(f"the amount must be a Decimal, an int or text such as '12.50', not {type(amount).__name__}{why}")


def _journal_error(message: str, path: str | None) -> JournalError:
    """The journal's error; with errno and filename when the system refused the file itself.

    The library says so as "PATH: " and the C library's strerror() text, the same function
    os.strerror() calls in this process: the text leads back to its code.
    """
    error = JournalError(message)
    if path is not None:
        _, named, why = message.rpartition(f"{path}: ")
        codes = {os.strerror(code): code for code in errno.errorcode}
        if named and why in codes:
            error.errno, error.strerror, error.filename = codes[why], why, path
    return error


def _check_callback(name: str, callback: object) -> None:
    if callback is None:
        return
    if not callable(callback):
        raise TypeError(f"the {name} callback must be a function, not {type(callback).__name__}")
    if inspect.iscoroutinefunction(callback):
        function = getattr(callback, "__qualname__", type(callback).__name__)
        raise TypeError(f"the {name} callback must be a plain function, but {function} is a coroutine function "
                        "(async def): it would be called and never awaited")


def _seconds(name: str, value: object) -> float:
    if isinstance(value, bool) or not isinstance(value, (int, float)):
        raise TypeError(f"the {name} must be a number of seconds, not {type(value).__name__}")
    return float(value)


class _CStrings:
    """C copies of one call's texts, alive as long as this object.

    Error texts name the field, never its value: one of them is the merchant key.
    """

    def __init__(self) -> None:
        self._kept: list[Any] = []

    def text(self, name: str, value: str | None) -> Any:
        if value is None:
            return ffi.NULL
        if not isinstance(value, str):
            raise TypeError(f"the {name} must be text (str), not {type(value).__name__}")
        try:
            encoded: bytes | None = value.encode("utf-8")
        except UnicodeEncodeError:  # raised outside: its context would hold the text
            encoded = None
        if encoded is None:
            raise UsageError(f"the {name} is not valid Unicode text: it holds a lone surrogate")
        return self._chars(name, encoded)

    def path(self, name: str, value: str | os.PathLike[str] | None) -> Any:
        if value is None:
            return ffi.NULL
        if not isinstance(value, (str, os.PathLike)):
            raise TypeError(f"the {name} must be a path, not {type(value).__name__}")
        return self._chars(name, os.fsencode(value))

    def _chars(self, name: str, encoded: bytes) -> Any:
        if b"\0" in encoded:
            raise UsageError(f"the {name} holds a NUL character, which C text cannot carry")
        kept = ffi.new("char[]", encoded)
        self._kept.append(kept)
        return kept


def _screen(c: kov_screen) -> Screen:
    return Screen(State(c.state), _text(c.line1) or "", _text(c.line2) or "", _text(c.button1),
                  _text(c.button2), _text(c.receipt))


def _result_details(c: kov_result) -> ResultDetails:
    response = {_text(c.response_keys[i]) or "": _text(c.response_values[i]) or "" for i in range(c.response_count)}
    texts = {name: _text(getattr(c, name)) for name in _ANSWER_KEYS}
    return ResultDetails(result=Result(c.result), txn_ref=_text(c.txn_ref) or "",
                         receipt_line_width=c.receipt_line_width, response=types.MappingProxyType(response),
                         reason=_text(c.reason), request_sent=bool(c.request_sent),
                         **{name: None if text == "" and _ANSWER_KEYS[name] not in response else text
                            for name, text in texts.items()})


def _pending(c: kov_pending_transaction) -> PendingTransaction:
    type_name, amount = _text(c.type), _text(c.amount)
    return PendingTransaction(
        txn_ref=_text(c.txn_ref) or "",
        type=TransactionType.__members__.get(type_name.upper()) if type_name else None,
        stage=Stage(c.stage), station=_text(c.station), amount=Decimal(amount) if amount is not None else None,
        currency=_text(c.currency),
        user=_text(c.user), merchant_ref=_text(c.merchant_ref),
        started_at=_EPOCH + datetime.timedelta(milliseconds=c.started_at_ms),
        result=Result(c.result) if c.result >= 0 else None, request_sent=bool(c.request_sent))


def check_options(recovering: bool, options: Mapping[str, Any]) -> None:
    """Refuses a keyword that the call does not take, and a callback that is no plain function."""
    allowed = _RECOVERY_KEYWORDS if recovering else _TRANSACTION_KEYWORDS
    for name in options:
        if name not in allowed:
            raise TypeError(f"unexpected keyword argument {name!r}")
    for name in _CALLBACKS:
        _check_callback(name, options.get(name))


class _Run:
    """One transaction: the host's callbacks, and its result once it has come.

    A host callback that raises an Exception is logged and the transaction goes on; a
    KeyboardInterrupt or SystemExit is kept for the waiting client to raise. The debug log's
    entries go to the "kovmodule" logger and to on_log.
    """

    def __init__(self, txn_ref: str, options: Mapping[str, Any],
                 on_result: Callable[[ResultDetails], None] | None,
                 lock: contextlib.AbstractContextManager[Any]) -> None:
        self.txn_ref = txn_ref
        self.on_screen: ScreenHandler | None = None
        self.on_log: LogHandler | None = None
        self.on_signature: SignatureHandler | None = None
        self.on_result: Callable[[ResultDetails], None] | None = None
        self.follow(options, on_result)
        self.result: ResultDetails | None = None
        self.interrupt: BaseException | None = None
        self._lock = lock  # the till's: cancel() reads the result from another thread
        self.handle = ffi.new_handle(self)
        self.callbacks = ffi.new("kov_callbacks *")
        self.callbacks.size = ffi.sizeof("kov_callbacks")
        self.callbacks.on_result = lib._kov_on_result
        # The screen and signature callbacks are always set, for a recovery that takes this
        # transaction over later. The log callback turns debug mode on: set when on_log is
        # given or the logger takes warnings (as it does unless configured otherwise).
        self.callbacks.on_screen = lib._kov_on_screen
        self.callbacks.on_log = lib._kov_on_log if self.on_log or _log.isEnabledFor(logging.WARNING) else ffi.NULL
        self.callbacks.on_signature = lib._kov_on_signature
        self.callbacks.user_data = self.handle

    def follow(self, options: Mapping[str, Any], on_result: Callable[[ResultDetails], None] | None) -> None:
        """Hands what comes from now on to these callbacks; on_log gets entries only when
        the transaction began in debug mode (with on_log, or the logger taking warnings)."""
        self.on_screen = options.get("on_screen")
        self.on_log = options.get("on_log")
        self.on_signature = options.get("on_signature")
        self.on_result = on_result

    def call_host(self, name: str, callback: Callable[..., None], *args: object) -> None:
        try:
            callback(*args)
        except Exception:
            _log.exception("The %s callback of the transaction %s raised; the transaction goes on", name,
                           self.txn_ref, extra={"txn_ref": self.txn_ref})
        except BaseException as interrupt:  # noqa: B036 -- kept for the waiting client, raised there
            self.interrupt = self.interrupt or interrupt

    def log(self, entry_type: LogEntryType, entry: str) -> None:
        """One entry of the debug log, to the logger and to on_log. The library masks the key
        in every entry."""
        _log.log(_LEVELS.get(entry_type, logging.INFO), "%s: %s", self.txn_ref, entry,
                 extra={"txn_ref": self.txn_ref, "entry_type": entry_type})
        if self.on_log:
            self.call_host("on_log", self.on_log, entry_type, entry)

    def deliver(self, result: ResultDetails) -> None:
        if result.result == Result.TIMEOUT:
            _log.error("The transaction %s timed out, its outcome unknown (%s): recover it by its reference.",
                       self.txn_ref, result.reason or "no reason given", extra={"txn_ref": self.txn_ref})
        with self._lock:
            self.result = result
        if self.on_result:
            self.on_result(result)


@ffi.def_extern()
def _kov_on_screen(user_data: Any, screen: Any) -> None:
    run: _Run = ffi.from_handle(user_data)
    if run.on_screen:
        run.call_host("on_screen", run.on_screen, _screen(screen))


@ffi.def_extern()
def _kov_on_result(user_data: Any, result: Any) -> None:
    run: _Run = ffi.from_handle(user_data)
    run.deliver(_result_details(result))


@ffi.def_extern()
def _kov_on_log(user_data: Any, entry_type: int, entry: Any) -> None:
    run: _Run = ffi.from_handle(user_data)
    run.log(LogEntryType(entry_type), _text(entry) or "")


@ffi.def_extern()
def _kov_on_signature(user_data: Any, receipt: Any) -> None:
    run: _Run = ffi.from_handle(user_data)
    if run.on_signature:
        run.call_host("on_signature", run.on_signature, _text(receipt))


class _Till:
    """One kov_client, and what it takes to make it again.

    Results are delivered on acknowledgement: with a journal, each stays pending until the
    host acknowledges it. A transaction abandoned before its result (its caller interrupted
    twice, or the client closed) ends as kov_client_free ends one: the handle goes, with a
    journal the transaction stays pending, and the next call opens a fresh handle with the
    same endpoint, journal and pacing.
    """

    def __init__(self, endpoint: str, ca_file: str | os.PathLike[str] | None,
                 journal: str | os.PathLike[str] | None, retry_spacing: float | None = None,
                 poll_floor: float | None = None, deadline: float | None = None) -> None:
        self._strings = _CStrings()  # the settings' C texts, kept to open the handle again
        self._endpoint = self._strings.text("endpoint", endpoint)
        self._journal = self._strings.path("journal", journal)
        self._journal_path = os.fsdecode(journal) if journal is not None else None
        # The pacing the client sets; None leaves the library's default.
        self._pacing = [(setter, _seconds(name, value)) for setter, name, value in (
            (lib.kov_client_set_retry_spacing, "retry spacing", retry_spacing),
            (lib.kov_client_set_poll_floor, "poll floor", poll_floor),
            (lib.kov_client_set_deadline, "deadline", deadline)) if value is not None]
        self._handle: Any = None
        self._run: _Run | None = None  # the run whose callbacks the handle holds
        self._depth = 0  # calls into C under way; callbacks run inside them
        self._closed = False
        # cancel() may come from another thread: it must not meet a released handle.
        self._lock = threading.RLock()
        self._ca = self._strings.path("ca_file", ca_file)
        if ca_file is not None:
            # A file the system refuses raises as any file does (FileNotFoundError ...), before
            # the library is asked; nothing that waits on a reader blocks here.
            os.close(os.open(ca_file, os.O_RDONLY | os.O_NONBLOCK | os.O_CLOEXEC))
        self._handle = self._open()

    def _open(self) -> Any:
        out = ffi.new("kov_client **")
        code = lib.kov_client_new(self._endpoint, out)
        if code != lib.KOV_OK:
            raise self._error(code, lib.kov_client_errmsg(ffi.NULL))
        handle = ffi.gc(out[0], lib.kov_client_free)
        try:
            # Each handle trusts only what it is given: a reopened one is given the file again.
            if self._ca != ffi.NULL:
                self._check(handle, lib.kov_client_trust_ca_file(handle, self._ca))
            if self._journal != ffi.NULL:
                self._check(handle, lib.kov_client_set_journal(handle, self._journal))
            for setter, seconds in self._pacing:
                self._check(handle, setter(handle, seconds))
            self._check(handle, lib.kov_client_set_acknowledged_delivery(handle, 1))
        except BaseException:
            ffi.release(handle)
            raise
        return handle

    def _check(self, handle: Any, code: int) -> int:
        if code < 0:
            raise self._error(code, lib.kov_client_errmsg(handle))
        return code

    def _error(self, code: int, message: Any) -> Exception:
        """The exception of a C call's error code, with the library's text."""
        text = _text(message) or ""
        if code == lib.KOV_ERROR_JOURNAL:
            return _journal_error(text, self._journal_path)
        return _ERRORS.get(code, Error)(text)

    @property
    def handle(self) -> Any:
        """The kov_client, opened again after an abandoned transaction."""
        if self._closed:
            raise UsageError("the client is closed")
        if self._handle is None:
            self._handle = self._open()
        return self._handle

    @contextlib.contextmanager
    def calling(self) -> Iterator[Any]:
        """The handle, for a call into C during which callbacks may run."""
        handle = self.handle
        self._depth += 1
        try:
            yield handle
        finally:
            self._depth -= 1

    @property
    def in_c(self) -> bool:
        """Whether a call into C is under way (so a callback is running)."""
        return self._depth > 0

    @property
    def journalled(self) -> bool:
        return bool(self._journal != ffi.NULL)

    def begin(self, kind: TransactionType | None, user: str | None, key: str, station: str | None, txn_ref: str,
              amount: Amount | None, currency: str | None, options: Mapping[str, Any],
              on_result: Callable[[ResultDetails], None] | None = None) -> _Run:
        """Starts a transaction (kind None: recovers txn_ref); its result comes to the run."""
        check_options(kind is None, options)
        strings = _CStrings()
        txn = ffi.new("kov_transaction *")
        txn.size = ffi.sizeof("kov_transaction")
        txn.type = int(kind or 0)
        txn.user = strings.text("user", user)
        txn.key = strings.text("key", key)
        txn.station = strings.text("station", station)
        txn.txn_ref = strings.text("txn_ref", txn_ref)
        txn.amount = strings.text("amount", _amount_text(amount))
        txn.currency = strings.text("currency", currency)
        for name in _OPTIONAL_TEXTS:
            setattr(txn, name, strings.text(name, options.get(name)))
        txn.skip_signature = 1 if options.get("skip_signature") else 0
        run = _Run(txn_ref, options, on_result, self._lock)
        with self.calling() as handle:
            code = (lib.kov_start if kind is not None else lib.kov_recover)(handle, txn, run.callbacks)
        self._check(handle, code)
        self._run = run
        return run

    def wait(self, run: _Run) -> ResultDetails:
        """Runs the client until the run's result has come, blocking.

        A first KeyboardInterrupt asks the terminal to cancel and waits on for the result; a
        second one, or any other exception, abandons the transaction and is raised.
        """
        cancelling = False
        try:
            while run.result is None:
                try:
                    self._wait_a_while(run)
                except KeyboardInterrupt:
                    if cancelling:
                        raise
                    cancelling = True
                    if self.cancel():
                        _log.warning("The terminal is asked to cancel the transaction %s, whose result is awaited: "
                                     "interrupt again to abandon it.", run.txn_ref, extra={"txn_ref": run.txn_ref})
        except BaseException:
            if run.result is None:
                self.abandon(run)
            raise
        return run.result

    def _wait_a_while(self, run: _Run) -> None:
        with self.calling() as handle:
            code = lib.kov_run(handle, _WAIT_SLICE_MS)
        interrupt, run.interrupt = run.interrupt, None
        if interrupt is not None and run.result is None:
            raise interrupt
        self._check(handle, code)
        if code == lib.KOV_OK and run.result is None:
            raise Error(f"the client ended the transaction {run.txn_ref} without a result")

    def cancel(self) -> bool:
        """Asks the terminal to cancel the running transaction, from any thread; False when
        none runs. The transaction goes on to its result."""
        with self._lock:
            run = self._run
            if self._handle is None or run is None or run.result is not None:
                return False
            lib.kov_cancel(self._handle)
            return True

    def process(self) -> None:
        """Does what is due, for a host loop that waits on fd() and timeout_ms()."""
        with self.calling() as handle:
            self._check(handle, lib.kov_process(handle))

    def fd(self) -> int:
        return int(lib.kov_fd(self.handle))

    def timeout_ms(self) -> int:
        return int(lib.kov_timeout_ms(self.handle))

    def press(self, button_id: str, label: str | None) -> None:
        strings = _CStrings()
        button, text = strings.text("button_id", button_id), strings.text("label", label)
        with self.calling() as handle:
            code = lib.kov_press(handle, button, text)
        self._check(handle, code)

    def acknowledge(self, txn_ref: str) -> None:
        ref = _CStrings().text("txn_ref", txn_ref)
        handle = self.handle
        self._check(handle, lib.kov_acknowledge(handle, ref))

    def forget(self, txn_ref: str) -> None:
        ref = _CStrings().text("txn_ref", txn_ref)
        handle = self.handle
        self._check(handle, lib.kov_forget(handle, ref))

    def pending(self) -> list[PendingTransaction]:
        handle = self.handle
        out = ffi.new("kov_pending_list **")
        self._check(handle, lib.kov_pending_get(handle, out))
        try:
            return [_pending(lib.kov_pending_entry_at(out[0], i)) for i in range(lib.kov_pending_count(out[0]))]
        finally:
            lib.kov_pending_list_free(out[0])

    def abandon(self, run: _Run) -> None:
        """Ends the run's transaction without its result, and says how to get it back."""
        self._release()
        where = "it stays pending in the journal" if self.journalled else "it is not journalled"
        _log.warning("The transaction %s was abandoned before its result (%s): recover it by its reference.",
                     run.txn_ref, where, extra={"txn_ref": run.txn_ref})

    def close(self) -> None:
        """Ends the client; a transaction still running is abandoned."""
        if self.in_c:
            raise UsageError("the client cannot be closed from its own callback")
        run = self._run
        if self._handle is not None and run is not None and run.result is None and lib.kov_running(self._handle):
            self.abandon(run)
        self._release()
        self._closed = True

    def _release(self) -> None:
        with self._lock:
            if self._handle is not None:
                ffi.release(self._handle)
                self._handle = None
            self._run = None
