// The C interface: each call checks its arguments, hands over to the client, and turns every
// exception into an error code, so none crosses into C.
#include <KOVModule/KOVCurlTransport.h>
#include <KOVModule/KOVEndpointPolicy.h>
#include <KOVModule/KOVModuleVersion.h>
#include <KOVModule/KOVSqliteJournal.h>
#include <KOVModule/kov.h>

#include <cstdlib>
#include <cstring>
#include <exception>
#include <iterator>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "CClient.h"
#include "CPendingList.h"

namespace {

// Why the last kov_client_new on this thread failed: there is no client to keep it.
thread_local std::string lastNewError;

template <class Call>
int guarded(kov_client* client, Call call) {
  try {
    return call();
  } catch (const std::bad_alloc&) {
    return client ? client->fail(KOV_ERROR_NO_MEMORY, "out of memory") : KOV_ERROR_NO_MEMORY;
  } catch (const std::exception& e) {
    return client ? client->fail(KOV_ERROR_INTERNAL, e.what()) : KOV_ERROR_INTERNAL;
  } catch (...) {
    return client ? client->fail(KOV_ERROR_INTERNAL, "an unknown failure") : KOV_ERROR_INTERNAL;
  }
}

int noClient() {
  lastNewError = "no client was given";
  return KOV_ERROR_INVALID_ARGUMENT;
}

// A pending transaction as the frozen kov_pending_entry, each text passed through keep: one
// list of texts, both for counting their bytes and for copying them.
template <class Keep>
kov_pending_entry frozen(const kov_pending_transaction& t, Keep&& keep) {
  return kov_pending_entry{
      .size = sizeof(kov_pending_entry),
      .txn_ref = keep(t.txn_ref),
      .type = keep(t.type),
      .stage = t.stage,
      .station = keep(t.station),
      .amount = keep(t.amount),
      .currency = keep(t.currency),
      .user = keep(t.user),
      .merchant_ref = keep(t.merchant_ref),
      .started_at_ms = t.started_at_ms,
  };
}

// The journal's pending transactions; nullptr, with the client's error set, when it cannot be read.
std::unique_ptr<kov_pending_list> pendingList(kov_client* client) {
  std::string why;
  std::optional<std::vector<KOVJournalEntry>> pending = client->engine.pendingTransactions(&why);
  if (!pending) {
    client->fail(KOV_ERROR_JOURNAL, why);
    return nullptr;
  }
  return std::make_unique<kov_pending_list>(std::move(*pending));
}

}  // namespace

extern "C" {

const char* kov_version(void) { return KOVModuleVersionString; }

const char* kov_strerror(int code) {
  switch (code) {
    case KOV_OK: return "no error";
    case KOV_RUNNING: return "the transaction still runs";
    case KOV_ERROR_INVALID_ARGUMENT: return "an argument is missing or refused";
    case KOV_ERROR_BUSY: return "a transaction already runs on this client";
    case KOV_ERROR_JOURNAL: return "the journal cannot be opened, read or written";
    case KOV_ERROR_NO_MEMORY: return "out of memory";
    case KOV_ERROR_INTERNAL: return "an internal failure";
    case KOV_ERROR_IDLE: return "no transaction runs on this client";
    case KOV_ERROR_DUPLICATE_REFERENCE: return "the journal holds this reference for another payment or one that ended";
    default: return "unknown return code";
  }
}

const char* kov_result_name(int result) {
  static constexpr const char* names[] = {
      "KOV_RESULT_SUCCEEDED", "KOV_RESULT_FAILED", "KOV_RESULT_INVALID_TRANSACTION_TYPE",
      "KOV_RESULT_USER_KEY_NOT_MATCHED", "KOV_RESULT_STATION_PREFIX_ERROR", "KOV_RESULT_EXISTING_REQUEST_IN_PROGRESS",
      "KOV_RESULT_TRANSMIT_ERROR", "KOV_RESULT_SESSION_INIT_ERROR", "KOV_RESULT_USER_ID_NOT_MATCHED",
      "KOV_RESULT_TERMINAL_NOT_CONNECTED", "KOV_RESULT_TIMEOUT"};
  return result >= 0 && result < static_cast<int>(std::size(names)) ? names[result] : "unknown result";
}

const char* kov_state_name(int state) {
  static constexpr const char* names[] = {
      "KOV_STATE_INIT", "KOV_STATE_AWAITING_CARD_SWIPE", "KOV_STATE_AWAITING_ACCOUNT_SELECTION",
      "KOV_STATE_AWAITING_PIN_ENTRY", "KOV_STATE_PROCESSING", "KOV_STATE_SIGNATURE_REQUIRED",
      "KOV_STATE_ACCEPTED", "KOV_STATE_DECLINED", "KOV_STATE_CANCELLED", "KOV_STATE_ERROR"};
  return state >= 0 && state < static_cast<int>(std::size(names)) ? names[state] : "unknown state";
}

int kov_client_new(const char* endpoint_url, kov_client** out) {
  if (!out) {
    lastNewError = "no place for the client was given";
    return KOV_ERROR_INVALID_ARGUMENT;
  }
  *out = nullptr;
  return guarded(nullptr, [&]() -> int {
    std::string why;
    if (!endpoint_url || !kov::EndpointPolicy::isAcceptable(endpoint_url, &why)) {
      lastNewError = endpoint_url ? "the endpoint is refused: " + why : "no endpoint was given";
      return KOV_ERROR_INVALID_ARGUMENT;
    }
    *out = std::make_unique<kov_client>(endpoint_url).release();
    lastNewError.clear();
    return KOV_OK;
  });
}

void kov_client_free(kov_client* client) {
  try {
    std::unique_ptr<kov_client> ended(client);
  } catch (...) {  // nothing crosses into C
  }
}

int kov_client_trust_ca_file(kov_client* client, const char* pem_path) {
  if (!client) return noClient();
  return guarded(client, [&]() -> int {
    std::string why;
    if (!pem_path || !client->trust->addFile(pem_path, &why)) {
      return client->fail(KOV_ERROR_INVALID_ARGUMENT, pem_path ? why : "no file was given");
    }
    client->error.clear();
    return KOV_OK;
  });
}

int kov_client_set_journal(kov_client* client, const char* path) {
  if (!client) return noClient();
  return guarded(client, [&]() -> int {
    std::shared_ptr<KOVJournal> journal;
    std::string why;
    if (path && *path && !(journal = KOVSqliteJournal::open(path, &why))) {
      return client->fail(KOV_ERROR_JOURNAL, why);
    }
    client->engine.setJournal(std::move(journal));
    client->error.clear();
    return KOV_OK;
  });
}

int kov_client_set_acknowledged_delivery(kov_client* client, int on) {
  if (!client) return noClient();
  client->engine.setAcknowledgedDelivery(on != 0);
  return KOV_OK;
}

int kov_client_set_retry_spacing(kov_client* client, double seconds) {
  if (!client) return noClient();
  if (!(seconds <= 3600)) {
    return client->fail(KOV_ERROR_INVALID_ARGUMENT, "the retry spacing must be at most 3600 seconds");
  }
  client->engine.setRetrySpacing(seconds);
  return KOV_OK;
}

int kov_client_set_poll_floor(kov_client* client, double seconds) {
  if (!client) return noClient();
  if (!(seconds >= 0 && seconds <= 60)) {
    return client->fail(KOV_ERROR_INVALID_ARGUMENT, "the poll floor must be from 0 to 60 seconds");
  }
  client->engine.setPollFloor(seconds);
  return KOV_OK;
}

int kov_client_set_deadline(kov_client* client, double seconds) {
  if (!client) return noClient();
  if (!(seconds >= 1 && seconds <= 86400)) {
    return client->fail(KOV_ERROR_INVALID_ARGUMENT, "the deadline must be from 1 to 86400 seconds");
  }
  client->engine.setTransactionDeadline(seconds);
  return KOV_OK;
}

const char* kov_client_errmsg(const kov_client* client) {
  return client ? client->error.c_str() : lastNewError.c_str();
}

int kov_start(kov_client* client, const kov_transaction* txn, const kov_callbacks* callbacks) {
  if (!client) return noClient();
  if (!txn || !callbacks) return client->fail(KOV_ERROR_INVALID_ARGUMENT, "no transaction or no callbacks given");
  return guarded(client, [&]() -> int { return client->begin(*txn, *callbacks, false); });
}

int kov_recover(kov_client* client, const kov_transaction* txn, const kov_callbacks* callbacks) {
  if (!client) return noClient();
  if (!txn || !callbacks) return client->fail(KOV_ERROR_INVALID_ARGUMENT, "no transaction or no callbacks given");
  return guarded(client, [&]() -> int { return client->begin(*txn, *callbacks, true); });
}

int kov_press(kov_client* client, const char* button_id, const char* label) {
  if (!client) return noClient();
  return guarded(client, [&]() -> int {
    if (!button_id || (std::strcmp(button_id, "B1") != 0 && std::strcmp(button_id, "B2") != 0)) {
      return client->fail(KOV_ERROR_INVALID_ARGUMENT, "a button is \"B1\" or \"B2\"");
    }
    if (!client->engine.isTransactionInProgress()) {
      return client->fail(KOV_ERROR_IDLE, "no transaction runs on this client");
    }
    client->engine.sendButtonRequest(button_id, label ? std::optional<std::string>(label) : std::nullopt);
    return KOV_OK;
  });
}

int kov_cancel(kov_client* client) {
  if (!client) return noClient();
  return guarded(client, [&]() -> int {
    // Posted, so that any thread may ask: the engine acts on the client's own thread, and only
    // on the transaction that ran when the cancel was asked.
    client->loop->post([client, asked = client->generation.load()] {
      if (client->generation == asked && client->awaitingResult) {
        client->engine.cancelTransaction();
      }
    });
    return KOV_OK;
  });
}

int kov_acknowledge(kov_client* client, const char* txn_ref) {
  if (!client) return noClient();
  if (!txn_ref) return client->fail(KOV_ERROR_INVALID_ARGUMENT, "no txn_ref was given");
  return guarded(client, [&]() -> int {
    std::string why;
    if (!client->engine.acknowledge(txn_ref, &why)) {
      return client->fail(KOV_ERROR_JOURNAL, why);
    }
    client->error.clear();
    return KOV_OK;
  });
}

int kov_forget(kov_client* client, const char* txn_ref) {
  if (!client) return noClient();
  if (!txn_ref) return client->fail(KOV_ERROR_INVALID_ARGUMENT, "no txn_ref was given");
  return guarded(client, [&]() -> int {
    std::string why;
    if (client->engine.forget(txn_ref, &why)) {
      client->error.clear();
      return KOV_OK;
    }
    const bool unwritable = why.rfind("The journal cannot", 0) == 0;
    return client->fail(unwritable ? KOV_ERROR_JOURNAL : KOV_ERROR_INVALID_ARGUMENT, why);
  });
}

int kov_run(kov_client* client, int timeout_ms) {
  if (!client) return noClient();
  return guarded(client, [&]() -> int { return client->run(timeout_ms); });
}

int kov_fd(const kov_client* client) { return client ? client->loop->descriptor() : KOV_ERROR_INVALID_ARGUMENT; }

int kov_timeout_ms(const kov_client* client) { return client ? client->loop->timeoutMs() : -1; }

int kov_process(kov_client* client) {
  if (!client) return noClient();
  return guarded(client, [&]() -> int {
    client->loop->processReady();
    return KOV_OK;
  });
}

int kov_running(const kov_client* client) { return client && client->awaitingResult ? 1 : 0; }

int kov_pending_get(kov_client* client, kov_pending_list** out) {
  if (!client) return noClient();
  if (!out) return client->fail(KOV_ERROR_INVALID_ARGUMENT, "no place for the list was given");
  *out = nullptr;
  return guarded(client, [&]() -> int {
    std::unique_ptr<kov_pending_list> list = pendingList(client);
    if (!list) return KOV_ERROR_JOURNAL;
    *out = list.release();
    return KOV_OK;
  });
}

size_t kov_pending_count(const kov_pending_list* list) { return list ? list->transactions.size() : 0; }

const kov_pending_transaction* kov_pending_entry_at(const kov_pending_list* list, size_t i) {
  return list && i < list->transactions.size() ? &list->transactions[i] : nullptr;
}

void kov_pending_list_free(kov_pending_list* list) { std::unique_ptr<kov_pending_list> freed(list); }

int kov_pending(kov_client* client, kov_pending_entry** entries, size_t* count) {
  if (!client) return noClient();
  if (!entries || !count) return client->fail(KOV_ERROR_INVALID_ARGUMENT, "no place for the entries was given");
  *entries = nullptr;
  *count = 0;
  return guarded(client, [&]() -> int {
    const std::unique_ptr<kov_pending_list> list = pendingList(client);
    if (!list) return KOV_ERROR_JOURNAL;
    const std::vector<kov_pending_transaction>& pending = list->transactions;
    if (pending.empty()) return KOV_OK;
    // One block for the entries and their texts, freed with one call.
    std::size_t bytes = pending.size() * sizeof(kov_pending_entry);
    const auto measure = [&bytes](const char* text) {
      bytes += text ? std::strlen(text) + 1 : 0;
      return text;
    };
    for (const kov_pending_transaction& t : pending) frozen(t, measure);
    auto* block = static_cast<kov_pending_entry*>(std::malloc(bytes));
    if (!block) return client->fail(KOV_ERROR_NO_MEMORY, "out of memory");
    char* texts = reinterpret_cast<char*>(block + pending.size());
    const auto keep = [&texts](const char* text) -> const char* {
      if (!text) return nullptr;
      const std::size_t n = std::strlen(text) + 1;
      const char* kept = static_cast<const char*>(std::memcpy(texts, text, n));
      texts += n;
      return kept;
    };
    for (std::size_t i = 0; i < pending.size(); ++i) block[i] = frozen(pending[i], keep);
    *entries = block;
    *count = pending.size();
    return KOV_OK;
  });
}

void kov_pending_free(kov_pending_entry* entries) { std::free(entries); }

}  // extern "C"
