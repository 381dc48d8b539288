/* KOVModule's C interface: card payments on a remotely driven payment terminal, for hosts in
 * any language that can call C.
 *
 * One kov_client is one till: an engine of its own, its HTTPS session and its own event loop.
 * A client is used from one thread at a time (kov_cancel excepted); different clients may run
 * on different threads at once. Callbacks are made only from inside kov_start, kov_recover,
 * kov_press, kov_run and kov_process, on the calling thread; kov_press, kov_cancel and
 * kov_acknowledge may be called from a callback. A callback must return normally (no
 * exception, no longjmp). Texts are UTF-8; NULL stands for an absent one.
 *
 * Structs start with their size: the caller sets it to sizeof of the struct it was compiled
 * with, and a struct only ever grows at its end, so hosts built against an older header keep
 * working. Structs the library hands over carry the size of the library's own.
 *
 * Functions that can fail return KOV_OK or a negative error code, and kov_client_errmsg()
 * says why. The merchant key never appears in any message, log entry or result.
 *
 * Ownership: strings and structs given to the library are copied before the call returns
 * (the caller may free them at once), unless a comment says otherwise. Strings and structs
 * the library gives are its own: the caller never frees them, and they stay valid as long as
 * the comment of the function or struct says. */
#ifndef KOVMODULE_KOV_H
#define KOVMODULE_KOV_H

#include <stddef.h>
#include <stdint.h>

#if defined(KOV_STATIC_DEFINE)
#define KOV_C_EXPORT
#else
#define KOV_C_EXPORT __attribute__((visibility("default")))
#endif

/* A call kept for older hosts; the compiler says what replaces it. Define KOV_DEPRECATED as
 * empty before including this header to keep it quiet. */
#ifndef KOV_DEPRECATED
#define KOV_DEPRECATED __attribute__((deprecated))
#endif

/* The version of this header; kov_version() gives the library's, which may be newer. */
#define KOV_VERSION_MAJOR 0
#define KOV_VERSION_MINOR 3
#define KOV_VERSION_PATCH 0
/* 0xMMmmpp: compare with ">=", as libcurl's LIBCURL_VERSION_NUM. */
#define KOV_VERSION_NUM ((KOV_VERSION_MAJOR << 16) | (KOV_VERSION_MINOR << 8) | KOV_VERSION_PATCH)

#ifdef __cplusplus
extern "C" {
#endif

/** One till: its own engine, curl session and event loop. */
typedef struct kov_client kov_client;

/** Return codes: KOV_OK, a positive status, or a negative error (kov_strerror names each). */
enum {
  KOV_OK = 0,
  KOV_RUNNING = 1,                 /**< kov_run: the time is up and the transaction still runs */
  KOV_ERROR_INVALID_ARGUMENT = -1, /**< a NULL or malformed argument, a refused endpoint ... */
  KOV_ERROR_BUSY = -2,             /**< a transaction already runs on this client */
  KOV_ERROR_JOURNAL = -3,          /**< the journal cannot be opened or read */
  KOV_ERROR_NO_MEMORY = -4,
  KOV_ERROR_INTERNAL = -5,
  KOV_ERROR_IDLE = -6,             /**< kov_press: no transaction runs on this client */
  KOV_ERROR_DUPLICATE_REFERENCE = -7 /**< the journal holds the txn_ref for a payment that ended,
                                          or for another payment: never reuse a reference */
};

/** Transaction types (KOVTransactionType). */
enum { KOV_PURCHASE = 0, KOV_AUTH = 1, KOV_COMPLETE = 2, KOV_REFUND = 3, KOV_VOID = 4 };

/** Result codes (KOVTransactionResult): 0 approved ... 10 the outcome is unknown (recover it). */
enum {
  KOV_RESULT_SUCCEEDED = 0,
  KOV_RESULT_FAILED = 1,
  KOV_RESULT_INVALID_TRANSACTION_TYPE = 2,
  KOV_RESULT_USER_KEY_NOT_MATCHED = 3,
  KOV_RESULT_STATION_PREFIX_ERROR = 4,
  KOV_RESULT_EXISTING_REQUEST_IN_PROGRESS = 5,
  KOV_RESULT_TRANSMIT_ERROR = 6,
  KOV_RESULT_SESSION_INIT_ERROR = 7,
  KOV_RESULT_USER_ID_NOT_MATCHED = 8,
  KOV_RESULT_TERMINAL_NOT_CONNECTED = 9,
  KOV_RESULT_TIMEOUT = 10
};

/** Screen states (KOVState). */
enum {
  KOV_STATE_INIT = 0,
  KOV_STATE_AWAITING_CARD_SWIPE = 1,
  KOV_STATE_AWAITING_ACCOUNT_SELECTION = 2,
  KOV_STATE_AWAITING_PIN_ENTRY = 3,
  KOV_STATE_PROCESSING = 4,
  KOV_STATE_SIGNATURE_REQUIRED = 5,
  KOV_STATE_ACCEPTED = 6,
  KOV_STATE_DECLINED = 7,
  KOV_STATE_CANCELLED = 8,
  KOV_STATE_ERROR = 9
};

/** Debug log entry kinds (KOVTransactionLogEntryType). */
enum { KOV_LOG_REQUEST = 0, KOV_LOG_RESPONSE = 1, KOV_LOG_ERROR = 2, KOV_LOG_INFO = 3 };

/** Stages of a journalled transaction. */
enum { KOV_STAGE_SENT = 0, KOV_STAGE_ANSWERED = 1, KOV_STAGE_DELIVERED = 2 };

/** What to start (kov_start) or whom to follow (kov_recover: user, key, station, txn_ref and
 *  skip_signature are read). */
typedef struct kov_transaction {
  uint32_t size;        /**< sizeof(kov_transaction) */
  int type;             /**< KOV_PURCHASE ... KOV_VOID */
  const char *user, *key, *station, *txn_ref;
  const char *amount;   /**< decimal text, "12.50"; NULL for none */
  const char *currency, *merchant_ref, *qel_txn_ref, *device_id, *pos_name, *pos_version, *vendor_id;
  int skip_signature;   /**< non-zero: answer the signature step with YES on the operator's behalf */
  const char *url_success, *url_fail;
} kov_transaction;

/** What the terminal shows; valid during the callback only. */
typedef struct kov_screen {
  uint32_t size;
  int state;            /**< KOV_STATE_... */
  const char *line1, *line2;
  const char *button1, *button2; /**< NULL: not shown */
  const char *receipt;  /**< cut into lines ended by CR LF; NULL: none */
} kov_screen;

/** The transaction's one result; valid during the callback only. */
typedef struct kov_result {
  uint32_t size;
  int result;           /**< KOV_RESULT_... */
  const char *auth_code, *masked_card_number, *card_name, *response_text;
  const char *response_code; /**< the service's code, case kept */
  const char *receipt;  /**< cut into lines ended by CR LF */
  const char *transaction_date, *retrieval_ref_number;
  const char *expected_settlement_date, *expected_settlement_date_time_zone, *transaction_date_time_zone;
  const char *pix, *rid, *qel_txn_ref, *card_number2, *qel_billing_id;
  int receipt_line_width;
  size_t response_count;             /**< every key of the final answer ... */
  const char *const *response_keys;  /**< ... in order, with */
  const char *const *response_values;
  const char *txn_ref;  /**< the transaction this result is for */
  /** Why the result is not the service's answer about the payment, in plain words: the last
   *  failure before KOV_RESULT_TIMEOUT ("connection refused by 127.0.0.1:8080"), a recovery
   *  the service refused (the payment stays pending); NULL for an answer about the payment. */
  const char *reason;
  /** 0 when the transaction request provably never reached the service (no byte of it was
   *  written): nothing can have been charged. 1 when it can have. */
  int request_sent;
} kov_result;

/** The host's callbacks for one transaction. A NULL member is skipped. */
typedef struct kov_callbacks {
  uint32_t size;        /**< sizeof(kov_callbacks) */
  void (*on_screen)(void *user_data, const kov_screen *screen);
  void (*on_result)(void *user_data, const kov_result *result); /**< once per start or recover */
  void (*on_log)(void *user_data, int entry_type, const char *entry); /**< set: debug mode on */
  void (*on_signature)(void *user_data, const char *receipt);
  void *user_data;
} kov_callbacks;

/** A transaction of the journal not delivered yet (kov_pending_entry_at); valid until its
 *  list is freed. The library's struct may be larger than the one a host was compiled with:
 *  the host reads the members it knows. */
typedef struct kov_pending_transaction {
  uint32_t size;        /**< sizeof the library's struct */
  const char *txn_ref;
  const char *type;     /**< the wire name ("Purchase"); NULL for a recovery of an unknown reference */
  int stage;            /**< KOV_STAGE_SENT or KOV_STAGE_ANSWERED */
  const char *station, *amount, *currency, *user, *merchant_ref;
  int64_t started_at_ms; /**< milliseconds since 1970-01-01 UTC */
  int request_sent;     /**< 0: its transaction request provably never left */
  int result;           /**< KOV_STAGE_ANSWERED: the result that arrived (KOV_RESULT_...); else -1 */
} kov_pending_transaction;

/** The journal's transactions not delivered yet (kov_pending_get). */
typedef struct kov_pending_list kov_pending_list;

/** The element of the deprecated kov_pending array. Its layout is frozen: a host indexes the
 *  array with its own sizeof, so the struct can never grow (kov_pending_transaction does). */
typedef struct kov_pending_entry {
  uint32_t size;
  const char *txn_ref;
  const char *type;
  int stage;
  const char *station, *amount, *currency, *user, *merchant_ref;
  int64_t started_at_ms;
} kov_pending_entry;

/** The library's version, "0.3.0"; a static string. */
KOV_C_EXPORT const char *kov_version(void);
/** What a return code means, in plain words ("a transaction already runs on this client");
 *  for any int, a static string. */
KOV_C_EXPORT const char *kov_strerror(int code);
/** The name of a result code ("KOV_RESULT_TIMEOUT"), or "unknown result"; a static string. */
KOV_C_EXPORT const char *kov_result_name(int result);
/** The name of a screen state ("KOV_STATE_PROCESSING"), or "unknown state"; a static string. */
KOV_C_EXPORT const char *kov_state_name(int state);

/** A client for the service at endpoint_url (https, or http to this machine only); *out stays
 *  NULL when it is refused, and kov_client_errmsg(NULL) says why on this thread. The caller
 *  owns *out and ends it with kov_client_free. */
KOV_C_EXPORT int kov_client_new(const char *endpoint_url, kov_client **out);
/** Ends the client and frees it: a running transaction is abandoned without a result (the terminal may
 *  still approve: recover it by its reference; to stop it at the terminal, kov_cancel and run
 *  the client until its result comes); nothing of it keeps running here. NULL is ignored. */
KOV_C_EXPORT void kov_client_free(kov_client *client);
/** Also trusts the certificates of a PEM file (read now; the path is not kept), for this
 *  client's sessions only: another client trusts what it is given. (It was a setting of the
 *  whole process before: a host that gave one client the file gives it to each.) */
KOV_C_EXPORT int kov_client_trust_ca_file(kov_client *client, const char *pem_path);
/** Journals later transactions in the SQLite file at path (created when missing; NULL or ""
 *  for none). KOV_ERROR_JOURNAL, with the reason, when the file cannot be used. The client
 *  keeps the file open until another journal is set or the client is freed. */
KOV_C_EXPORT int kov_client_set_journal(kov_client *client, const char *path);
/** How the poll after a failed one waits. By default (or with a negative value) a growing
 *  delay, 0.25 s doubled after each failure in a row up to 4 s, each within +-20 %, so that
 *  nine failures span at least 10 s; above 0 that many seconds after the failed poll was sent
 *  (at most 3600); 0 at once. A 503 or 429 with Retry-After waits what it asks, at most 30 s. */
KOV_C_EXPORT int kov_client_set_retry_spacing(kov_client *client, double seconds);
/** The least time between two status polls, 0 to 60 s (0.2 by default; 0: at once). A poll
 *  held that long by the service is not delayed; the poll after a press goes at once. */
KOV_C_EXPORT int kov_client_set_poll_floor(kov_client *client, double seconds);
/** How long a transaction may run without a final answer, 1 to 86400 s (600 by default);
 *  then the terminal is asked to cancel, and the result is KOV_RESULT_TIMEOUT (with its
 *  reason) unless a final answer follows within one more poll. */
KOV_C_EXPORT int kov_client_set_deadline(kov_client *client, double seconds);
/** With on non-zero, a result stays pending in the journal (KOV_STAGE_ANSWERED, listed by
 *  kov_pending_get with its result) until kov_acknowledge: a host that crashes before it has
 *  recorded the result gets it again on restart. Off by default: a result counts as delivered
 *  once on_result has returned. */
KOV_C_EXPORT int kov_client_set_acknowledged_delivery(kov_client *client, int on);
/** Why the last failing call on this client failed ("" when none did); for NULL, why the last
 *  kov_client_new on this thread failed. The client's string: valid until the next call on the
 *  client (for NULL, the next kov_client_new on this thread). */
KOV_C_EXPORT const char *kov_client_errmsg(const kov_client *client);

/** Starts a transaction; KOV_OK once it is under way, its result to come through on_result.
 *  Refused before anything is sent, with the reason in kov_client_errmsg: a record that would
 *  not arrive as given (KOV_ERROR_INVALID_ARGUMENT: more than two decimals, a negative amount,
 *  no amount or currency for a purchase, authorisation or refund, a missing or empty user,
 *  key or reference, a carriage return, a tab or line break in the user or key, text that is
 *  not UTF-8 or holds control characters); with a journal, a txn_ref it holds for a payment
 *  that ended or for another payment (KOV_ERROR_DUPLICATE_REFERENCE), or a journal that cannot
 *  be read or written (KOV_ERROR_JOURNAL). A start of a journalled reference with the same
 *  type, amount, currency, station and user follows that payment to its outcome instead of
 *  paying twice. txn's strings are copied; callbacks is copied, and its user_data is handed to
 *  each callback of this transaction as it is (the caller keeps what it points to alive until
 *  on_result has returned, or the client is freed). */
KOV_C_EXPORT int kov_start(kov_client *client, const kov_transaction *txn, const kov_callbacks *callbacks);
/** Follows an earlier transaction, named by its reference, to its result (from the journal
 *  at once when it had arrived). With a journal, station and user may be NULL: the journal's
 *  are used; others than the journal's are refused (KOV_ERROR_INVALID_ARGUMENT). A result
 *  other than approved or not approved (a refusal of the status request, the time-out) leaves
 *  the payment pending, with kov_result.reason saying why. Copies as kov_start does. */
KOV_C_EXPORT int kov_recover(kov_client *client, const kov_transaction *txn, const kov_callbacks *callbacks);
/** Asks the terminal to cancel the running transaction: presses its CANCEL button now or
 *  when it shows one. The transaction runs on to the service's final result, which on_result
 *  gets (an approval too late to stop is reported as approved). May be called from any thread
 *  while the client exists; it takes effect on the client's thread, on the transaction that
 *  runs when it is asked (none: nothing, also for the next one). KOV_OK. */
KOV_C_EXPORT int kov_cancel(kov_client *client);
/** The host has recorded the result of txn_ref: the journal marks it delivered (see
 *  kov_client_set_acknowledged_delivery). A reference still to be recovered, or unknown to the
 *  journal, changes nothing. KOV_ERROR_JOURNAL when the journal cannot be written. txn_ref is
 *  read during the call only (as by kov_forget and kov_press). */
KOV_C_EXPORT int kov_acknowledge(kov_client *client, const char *txn_ref);
/** Removes txn_ref from the journal, whatever its stage, for an operator who settled it by
 *  other means. KOV_ERROR_INVALID_ARGUMENT without a journal, for a reference it does not hold
 *  or one running now; KOV_ERROR_JOURNAL when it cannot be written. */
KOV_C_EXPORT int kov_forget(kov_client *client, const char *txn_ref);
/** Presses a terminal button, "B1" or "B2", with the label shown (NULL: none);
 *  KOV_ERROR_IDLE when no transaction runs. */
KOV_C_EXPORT int kov_press(kov_client *client, const char *button_id, const char *label);

/** Runs the client until the result has been delivered, or timeout_ms has passed (-1: no
 *  limit): KOV_OK (also at once when nothing runs) or KOV_RUNNING. */
KOV_C_EXPORT int kov_run(kov_client *client, int timeout_ms);
/** For a host loop of its own: one descriptor, readable when kov_process has work. The
 *  client's own: the host polls it and never closes it; valid until the client is freed. */
KOV_C_EXPORT int kov_fd(const kov_client *client);
/** When kov_process must be called at the latest, in milliseconds (0: now); -1: only when the
 *  descriptor is readable. */
KOV_C_EXPORT int kov_timeout_ms(const kov_client *client);
/** Does what is due, without waiting; KOV_OK. */
KOV_C_EXPORT int kov_process(kov_client *client);
/** Whether a transaction runs on the client (its result not delivered yet). */
KOV_C_EXPORT int kov_running(const kov_client *client);

/** The journal's transactions not delivered yet, the oldest first, to recover at start-up.
 *  *out is the caller's, freed with kov_pending_list_free; it holds copies, so it stays valid
 *  whatever the client does later, and after the client is freed. Without a journal, an empty
 *  list. On failure *out is NULL. */
KOV_C_EXPORT int kov_pending_get(kov_client *client, kov_pending_list **out);
/** How many transactions the list holds (0 for NULL). */
KOV_C_EXPORT size_t kov_pending_count(const kov_pending_list *list);
/** The list's transaction at index i, the oldest at 0; NULL when i is not below the count.
 *  The list's own: valid until the list is freed. */
KOV_C_EXPORT const kov_pending_transaction *kov_pending_entry_at(const kov_pending_list *list, size_t i);
/** Frees the list and every transaction of it; NULL is ignored. */
KOV_C_EXPORT void kov_pending_list_free(kov_pending_list *list);

/** Deprecated: kov_pending_get replaces it. The same transactions as an array of the frozen
 *  kov_pending_entry: *entries (NULL when there is none) and *count; the caller frees the
 *  array, texts included, with kov_pending_free. */
KOV_C_EXPORT KOV_DEPRECATED int kov_pending(kov_client *client, kov_pending_entry **entries, size_t *count);
/** Frees what kov_pending gave; NULL is ignored. */
KOV_C_EXPORT void kov_pending_free(kov_pending_entry *entries);

#ifdef __cplusplus
}
#endif

#endif /* KOVMODULE_KOV_H */
