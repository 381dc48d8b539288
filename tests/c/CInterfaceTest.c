/* A host in C: a press made from on_screen on a loop of the host's own, two clients on two
 * threads at once, and the error codes of what is refused before anything is sent. (Every
 * outcome, cancel, recovery, the journal and each client's own trust are the Python package's
 * tables, which go through the same calls.) */
#include <KOVModule/kov.h>

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

static int failures = 0;
#define CHECK(condition, ...)                                                     \
  do {                                                                            \
    if (!(condition)) {                                                           \
      ++failures;                                                                 \
      fprintf(stderr, "%s:%d: failed: %s: ", __FILE__, __LINE__, #condition);     \
      fprintf(stderr, __VA_ARGS__);                                               \
      fputc('\n', stderr);                                                        \
    }                                                                             \
  } while (0)

#define KEY "c-h0st-k3y"

static char url[128];

/* kov-simulator on a port of the system's choosing; its first line names its address. */
static pid_t start_simulator(char *address) {
  int out[2];
  pid_t simulator = -1;
  if (pipe(out) != 0) abort();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", 1, 0);
  char *argv[] = {KOV_SIMULATOR_PATH, "--listen", "127.0.0.1:0", "--speed", "20", "--tmo", "1", "--key", KEY, NULL};
  if (posix_spawn(&simulator, KOV_SIMULATOR_PATH, &actions, NULL, argv, environ) != 0) abort();
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  char line[256] = {0};
  size_t used = 0;
  while (used + 1 < sizeof line && read(out[0], line + used, 1) == 1 && line[used] != '\n') ++used;
  close(out[0]);
  if (sscanf(line, "kov-simulator listening on %127s", address) != 1) abort();
  return simulator;
}

/* What one transaction handed its host; a YES pressed from on_screen at the signature step. */
struct till {
  kov_client *client;
  int press_code, results, result, signatures;
};

static void on_screen(void *user_data, const kov_screen *screen) {
  struct till *till = user_data;
  if (screen->state == KOV_STATE_SIGNATURE_REQUIRED && screen->button1 && strcmp(screen->button1, "YES") == 0)
    till->press_code = kov_press(till->client, "B1", "YES");
}

static void on_result(void *user_data, const kov_result *result) {
  struct till *till = user_data;
  ++till->results;
  till->result = result->result;
}

static void on_signature(void *user_data, const char *receipt) { ((struct till *)user_data)->signatures += !!receipt; }

static kov_transaction purchase(const char *ref, const char *station, const char *merchant_ref) {
  kov_transaction txn;
  memset(&txn, 0, sizeof txn);
  txn.size = sizeof txn;
  txn.type = KOV_PURCHASE;
  txn.user = "merchant";
  txn.key = KEY;
  txn.station = station;
  txn.txn_ref = ref;
  txn.amount = "12.50";
  txn.currency = "AUD";
  txn.merchant_ref = merchant_ref;
  return txn;
}

/* A till with a new client of the service at the address. */
static kov_client *open_till(struct till *till, const char *at) {
  memset(till, 0, sizeof *till);
  CHECK(kov_client_new(at, &till->client) == KOV_OK, "%s", kov_client_errmsg(NULL));
  return till->client;
}

/* Starts txn on the till's client with its handlers; the code kov_start returned. */
static int start_on(struct till *till, const kov_transaction *txn) {
  const kov_callbacks callbacks = {sizeof(kov_callbacks), on_screen, on_result, NULL, on_signature, till};
  return kov_start(till->client, txn, &callbacks);
}

static void start(struct till *till, const char *ref, const char *station, const char *merchant_ref) {
  const kov_transaction txn = purchase(ref, station, merchant_ref);
  open_till(till, url);
  CHECK(start_on(till, &txn) == KOV_OK, "%s", kov_client_errmsg(till->client));
}

/* poll(2) on the one descriptor with the client's time-out; kov_run with no time left
 * returns at once while the payment runs. */
static void test_press_on_own_loop(void) {
  struct till till;
  start(&till, "C-SIGNED", "C-SIGNED", "sim:signature");
  CHECK(kov_run(till.client, 0) == KOV_RUNNING, "kov_run with no time left waited for the result");
  struct pollfd waiting = {kov_fd(till.client), POLLIN, 0};
  for (int rounds = 0; kov_running(till.client) && rounds < 100000; ++rounds) {
    poll(&waiting, 1, kov_timeout_ms(till.client));
    CHECK(kov_process(till.client) == KOV_OK, "%s", kov_client_errmsg(till.client));
  }
  CHECK(till.results == 1 && till.result == KOV_RESULT_SUCCEEDED && till.signatures == 1 && till.press_code == KOV_OK,
        "%d results, the last %d, %d receipts, press %d", till.results, till.result, till.signatures, till.press_code);
  kov_client_free(till.client);
}

static void *approve_on_a_thread(void *ref) {
  struct till *till = malloc(sizeof *till);
  start(till, ref, ref, "sim:approve");
  CHECK(kov_run(till->client, 30000) == KOV_OK, "%s: no result", (char *)ref);
  kov_client_free(till->client);
  return till;
}

static void test_two_threads(void) {
  pthread_t threads[2];
  char *refs[] = {"C-THREAD-1", "C-THREAD-2"};
  for (int i = 0; i < 2; ++i) pthread_create(&threads[i], NULL, approve_on_a_thread, refs[i]);
  for (int i = 0; i < 2; ++i) {
    void *till = NULL;
    pthread_join(threads[i], &till);
    CHECK(((struct till *)till)->result == KOV_RESULT_SUCCEEDED && ((struct till *)till)->results == 1, "%s", refs[i]);
    free(till);
  }
}

/* A start without callbacks, and one of a type the header does not name, are refused before
 * anything is sent, with the code and the reason (every other refusal is a row of the Python
 * package's table, through the same call). */
static void test_refusal(void) {
  struct till till;
  kov_transaction txn = purchase("C-REFUSED", "ST", "sim:approve");
  open_till(&till, url);
  CHECK(kov_start(till.client, &txn, NULL) == KOV_ERROR_INVALID_ARGUMENT &&
            strcmp(kov_client_errmsg(till.client), "no transaction or no callbacks given") == 0,
        "%s", kov_client_errmsg(till.client));
  txn.type = KOV_VOID + 1;
  CHECK(start_on(&till, &txn) == KOV_ERROR_INVALID_ARGUMENT &&
            strcmp(kov_client_errmsg(till.client), "type 5 is not a transaction type") == 0 && !kov_running(till.client),
        "%s", kov_client_errmsg(till.client));
  kov_client_free(till.client);
}

/* The names of codes, results and states, and the header's version against the library's. */
static void test_names(void) {
  static const struct {
    const char *(*name)(int);
    int value;
    const char *expected;
  } rows[] = {
      {kov_strerror, KOV_OK, "no error"},
      {kov_strerror, KOV_ERROR_DUPLICATE_REFERENCE,
       "the journal holds this reference for another payment or one that ended"},
      {kov_strerror, -8, "unknown return code"},
      {kov_result_name, KOV_RESULT_SUCCEEDED, "KOV_RESULT_SUCCEEDED"},
      {kov_result_name, KOV_RESULT_TIMEOUT, "KOV_RESULT_TIMEOUT"},
      {kov_result_name, 11, "unknown result"},
      {kov_result_name, -1, "unknown result"},
      {kov_state_name, KOV_STATE_INIT, "KOV_STATE_INIT"},
      {kov_state_name, KOV_STATE_ERROR, "KOV_STATE_ERROR"},
      {kov_state_name, 10, "unknown state"},
  };
  for (size_t i = 0; i < sizeof rows / sizeof rows[0]; ++i)
    CHECK(strcmp(rows[i].name(rows[i].value), rows[i].expected) == 0, "row %zu: %s", i, rows[i].name(rows[i].value));
  char header[32];
  snprintf(header, sizeof header, "%d.%d.%d", KOV_VERSION_MAJOR, KOV_VERSION_MINOR, KOV_VERSION_PATCH);
  CHECK(strcmp(header, kov_version()) == 0 && KOV_VERSION_NUM == (KOV_VERSION_MAJOR << 16 | KOV_VERSION_MINOR << 8 | KOV_VERSION_PATCH),
        "header %s, library %s", header, kov_version());
}

/* A transaction abandoned by a freed client stays pending: the list lasts beyond the client
 * that read it, and the deprecated array gives the same transaction in its frozen layout (each
 * field against kov-cli's line is the Python package's records test). */
static void test_pending_list(const char *dir) {
  char journal[192];
  snprintf(journal, sizeof journal, "%s/journal.db", dir);
  struct till till;
  const kov_transaction txn = purchase("C-PENDING", "C-PENDING", "sim:approve");
  CHECK(kov_client_set_journal(open_till(&till, url), journal) == KOV_OK && start_on(&till, &txn) == KOV_OK, "%s",
        kov_client_errmsg(till.client));
  kov_client_free(till.client);

  kov_client *reader = NULL;
  kov_pending_list *list = NULL;
  CHECK(kov_client_new(url, &reader) == KOV_OK && kov_client_set_journal(reader, journal) == KOV_OK &&
            kov_pending_get(reader, &list) == KOV_OK,
        "%s", kov_client_errmsg(reader));
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
  kov_pending_entry *entries = NULL;
  size_t count = 0;
  CHECK(kov_pending(reader, &entries, &count) == KOV_OK && count == 1 && entries[0].size == sizeof(kov_pending_entry) &&
            strcmp(entries[0].txn_ref, "C-PENDING") == 0 && strcmp(entries[0].amount, "12.50") == 0,
        "%zu entries", count);
  kov_pending_free(entries);
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
  kov_client_free(reader);
  const kov_pending_transaction *first = kov_pending_entry_at(list, 0);
  CHECK(kov_pending_count(list) == 1 && first && first->size == sizeof(kov_pending_transaction) &&
            strcmp(first->txn_ref, "C-PENDING") == 0 && kov_pending_entry_at(list, 1) == NULL,
        "%zu transactions", kov_pending_count(list));
  kov_pending_list_free(list);
  CHECK(kov_pending_count(NULL) == 0 && kov_pending_entry_at(NULL, 0) == NULL, "a NULL list is not empty");
}

int main(void) {
  const pid_t simulator = start_simulator(url);
  char scratch[] = "/tmp/kov-c-journal-XXXXXX";
  if (!mkdtemp(scratch)) abort();
  test_names();
  test_pending_list(scratch);
  test_refusal();
  test_press_on_own_loop();
  test_two_threads();
  kill(simulator, SIGTERM);
  waitpid(simulator, NULL, 0);
  char remove_scratch[96];
  snprintf(remove_scratch, sizeof remove_scratch, "rm -rf %s", scratch);
  if (system(remove_scratch) != 0) ++failures;
  if (failures) fprintf(stderr, "%d checks failed\n", failures);
  return failures ? 1 : 0;
}
