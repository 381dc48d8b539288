# The extension cffi generates from <KOVModule/kov.h> (see kov_build.py), as far as the package
# uses it. Texts and pointers are cffi cdata (CData); a struct is typed by its members. Kept
# in step with the header by hand: the extension itself is checked against it when compiled.
from collections.abc import Callable
from typing import Any, TypeVar

CData = Any
"""A cffi pointer or array: `char *` texts (NULL for none), handles, out-parameters."""

_Function = TypeVar("_Function", bound=Callable[..., object])

class _FFI:
    """The cffi.FFI of the extension, as far as the package uses it."""

    NULL: CData
    def new(self, cdecl: str, init: object = ..., /) -> CData: ...
    def new_handle(self, value: object, /) -> CData: ...
    def from_handle(self, handle: CData, /) -> Any: ...
    def gc(self, cdata: CData, destructor: Callable[[CData], object], /) -> CData: ...
    def release(self, cdata: CData, /) -> None: ...
    def string(self, cdata: CData, /) -> bytes: ...
    def sizeof(self, cdecl: str, /) -> int: ...
    def typeof(self, cdecl: str, /) -> Any: ...
    def def_extern(self) -> Callable[[_Function], _Function]: ...

ffi: _FFI

class kov_transaction:
    size: int
    type: int
    user: CData
    key: CData
    station: CData
    txn_ref: CData
    amount: CData
    currency: CData
    merchant_ref: CData
    qel_txn_ref: CData
    device_id: CData
    pos_name: CData
    pos_version: CData
    vendor_id: CData
    skip_signature: int
    url_success: CData
    url_fail: CData

class kov_screen:
    size: int
    state: int
    line1: CData
    line2: CData
    button1: CData
    button2: CData
    receipt: CData

class kov_result:
    size: int
    result: int
    auth_code: CData
    masked_card_number: CData
    card_name: CData
    response_text: CData
    response_code: CData
    receipt: CData
    transaction_date: CData
    retrieval_ref_number: CData
    expected_settlement_date: CData
    expected_settlement_date_time_zone: CData
    transaction_date_time_zone: CData
    pix: CData
    rid: CData
    qel_txn_ref: CData
    card_number2: CData
    qel_billing_id: CData
    receipt_line_width: int
    response_count: int
    response_keys: CData
    response_values: CData
    txn_ref: CData
    reason: CData
    request_sent: int

class kov_callbacks:
    size: int
    on_screen: CData
    on_result: CData
    on_log: CData
    on_signature: CData
    user_data: CData

class kov_pending_transaction:
    size: int
    txn_ref: CData
    type: CData
    stage: int
    station: CData
    amount: CData
    currency: CData
    user: CData
    merchant_ref: CData
    started_at_ms: int
    request_sent: int
    result: int

class kov_pending_entry:
    size: int
    txn_ref: CData
    type: CData
    stage: int
    station: CData
    amount: CData
    currency: CData
    user: CData
    merchant_ref: CData
    started_at_ms: int

class _Lib:
    KOV_OK: int
    KOV_RUNNING: int
    KOV_ERROR_INVALID_ARGUMENT: int
    KOV_ERROR_BUSY: int
    KOV_ERROR_JOURNAL: int
    KOV_ERROR_NO_MEMORY: int
    KOV_ERROR_INTERNAL: int
    KOV_ERROR_IDLE: int
    KOV_ERROR_DUPLICATE_REFERENCE: int

    KOV_PURCHASE: int
    KOV_AUTH: int
    KOV_COMPLETE: int
    KOV_REFUND: int
    KOV_VOID: int

    KOV_RESULT_SUCCEEDED: int
    KOV_RESULT_FAILED: int
    KOV_RESULT_INVALID_TRANSACTION_TYPE: int
    KOV_RESULT_USER_KEY_NOT_MATCHED: int
    KOV_RESULT_STATION_PREFIX_ERROR: int
    KOV_RESULT_EXISTING_REQUEST_IN_PROGRESS: int
    KOV_RESULT_TRANSMIT_ERROR: int
    KOV_RESULT_SESSION_INIT_ERROR: int
    KOV_RESULT_USER_ID_NOT_MATCHED: int
    KOV_RESULT_TERMINAL_NOT_CONNECTED: int
    KOV_RESULT_TIMEOUT: int

    KOV_STATE_INIT: int
    KOV_STATE_AWAITING_CARD_SWIPE: int
    KOV_STATE_AWAITING_ACCOUNT_SELECTION: int
    KOV_STATE_AWAITING_PIN_ENTRY: int
    KOV_STATE_PROCESSING: int
    KOV_STATE_SIGNATURE_REQUIRED: int
    KOV_STATE_ACCEPTED: int
    KOV_STATE_DECLINED: int
    KOV_STATE_CANCELLED: int
    KOV_STATE_ERROR: int

    KOV_LOG_REQUEST: int
    KOV_LOG_RESPONSE: int
    KOV_LOG_ERROR: int
    KOV_LOG_INFO: int

    KOV_STAGE_SENT: int
    KOV_STAGE_ANSWERED: int
    KOV_STAGE_DELIVERED: int

    # The Python implementations of the callbacks (extern "Python"), as C function pointers.
    _kov_on_screen: CData
    _kov_on_result: CData
    _kov_on_log: CData
    _kov_on_signature: CData

    def kov_version(self) -> CData: ...
    def kov_strerror(self, code: int, /) -> CData: ...
    def kov_result_name(self, result: int, /) -> CData: ...
    def kov_state_name(self, state: int, /) -> CData: ...
    def kov_client_new(self, endpoint_url: CData, out: CData, /) -> int: ...
    def kov_client_free(self, client: CData, /) -> None: ...
    def kov_client_trust_ca_file(self, client: CData, pem_path: CData, /) -> int: ...
    def kov_client_set_journal(self, client: CData, path: CData, /) -> int: ...
    def kov_client_set_retry_spacing(self, client: CData, seconds: float, /) -> int: ...
    def kov_client_set_poll_floor(self, client: CData, seconds: float, /) -> int: ...
    def kov_client_set_deadline(self, client: CData, seconds: float, /) -> int: ...
    def kov_client_set_acknowledged_delivery(self, client: CData, on: int, /) -> int: ...
    def kov_client_errmsg(self, client: CData, /) -> CData: ...
    def kov_start(self, client: CData, txn: CData, callbacks: CData, /) -> int: ...
    def kov_recover(self, client: CData, txn: CData, callbacks: CData, /) -> int: ...
    def kov_cancel(self, client: CData, /) -> int: ...
    def kov_acknowledge(self, client: CData, txn_ref: CData, /) -> int: ...
    def kov_forget(self, client: CData, txn_ref: CData, /) -> int: ...
    def kov_press(self, client: CData, button_id: CData, label: CData, /) -> int: ...
    def kov_run(self, client: CData, timeout_ms: int, /) -> int: ...
    def kov_fd(self, client: CData, /) -> int: ...
    def kov_timeout_ms(self, client: CData, /) -> int: ...
    def kov_process(self, client: CData, /) -> int: ...
    def kov_running(self, client: CData, /) -> int: ...
    def kov_pending_get(self, client: CData, out: CData, /) -> int: ...
    def kov_pending_count(self, list: CData, /) -> int: ...
    def kov_pending_entry_at(self, list: CData, i: int, /) -> kov_pending_transaction: ...
    def kov_pending_list_free(self, list: CData, /) -> None: ...
    def kov_pending(self, client: CData, entries: CData, count: CData, /) -> int: ...
    def kov_pending_free(self, entries: CData, /) -> None: ...

lib: _Lib
