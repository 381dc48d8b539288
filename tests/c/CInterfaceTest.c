/* A host in C: a press made from on_screen on a loop of the host's own, two clients on two
 * threads at once, a cancel from another thread, and the error codes of what is refused before
 * anything is sent. (Every outcome, recovery and the journal are the Python package's tables,
 * which go through the same calls.) */
#include <KOVModule/kov.h>

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
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

static char url[128], tls_url[128];

/* kov-simulator on a port of the system's choosing, over TLS with its test CA in cert_dir
 * when one is named; its first line names its address. */
static pid_t start_simulator(char *address, const char *cert_dir) {
  int out[2];
  pid_t simulator = -1;
  if (pipe(out) != 0) abort();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", 1, 0);
  char *argv[] = {KOV_SIMULATOR_PATH, "--listen", "127.0.0.1:0", "--speed", "20", "--tmo", "1", "--key", KEY,
                  cert_dir ? "--tls" : NULL, "--cert-dir", (char *)cert_dir, NULL};
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
  int press_code, results, result, signatures, request_sent;
  char response_text[128], response_code[16], reason[160];
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
  till->request_sent = result->request_sent;
  snprintf(till->response_text, sizeof till->response_text, "%s", result->response_text ? result->response_text : "");
  snprintf(till->response_code, sizeof till->response_code, "%s", result->response_code ? result->response_code : "");
  snprintf(till->reason, sizeof till->reason, "%s", result->reason ? result->reason : "");
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

/* Starts a purchase on a client of its own; the code kov_start returned. */
static int start_txn(struct till *till, const kov_transaction *txn) {
  memset(till, 0, sizeof *till);
  CHECK(kov_client_new(url, &till->client) == KOV_OK, "%s", kov_client_errmsg(NULL));
  const kov_callbacks callbacks = {sizeof(kov_callbacks), on_screen, on_result, NULL, on_signature, till};
  return kov_start(till->client, txn, &callbacks);
}

static void start(struct till *till, const char *ref, const char *station, const char *merchant_ref) {
  const kov_transaction txn = purchase(ref, station, merchant_ref);
  CHECK(start_txn(till, &txn) == KOV_OK, "%s", kov_client_errmsg(till->client));
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

/* Another thread asks the terminal to cancel while this one runs the client: the CANCEL of the
 * card screen is pressed and the service's answer is the result; the next payment is not
 * touched by a cancel asked in between. */
static void *cancel_soon(void *client) {
  const struct timespec soon = {0, 20000000};
  nanosleep(&soon, NULL);
  kov_cancel(client);
  return NULL;
}

static void test_cancel_from_another_thread(void) {
  struct till till;
  start(&till, "C-CANCELLED", "C-CANCELLED", "sim:approve");
  pthread_t canceller;
  pthread_create(&canceller, NULL, cancel_soon, till.client);
  CHECK(kov_run(till.client, 30000) == KOV_OK, "no result");
  pthread_join(canceller, NULL);
  CHECK(till.result == KOV_RESULT_FAILED && strcmp(till.response_code, "TC") == 0, "%d %s", till.result,
        till.response_code);
  /* A cancel asked while nothing runs never reaches the next payment. */
  kov_cancel(till.client);
  const kov_transaction next = purchase("C-NEXT", "C-CANCELLED", "sim:approve");
  const kov_callbacks callbacks = {sizeof(kov_callbacks), on_screen, on_result, NULL, on_signature, &till};
  CHECK(kov_start(till.client, &next, &callbacks) == KOV_OK && kov_run(till.client, 30000) == KOV_OK &&
            till.result == KOV_RESULT_SUCCEEDED,
        "%d %s", till.result, till.response_code);
  kov_client_free(till.client);
}

/* Refused before anything is sent, with the code and the engine's reason (every refusal is a
 * row of the Python package's table, through the same call). */
static void test_refusal(void) {
  struct till till;
  kov_transaction txn = purchase("C-REFUSED", "ST", "sim:approve");
  txn.amount = "12.509";
  CHECK(start_txn(&till, &txn) == KOV_ERROR_INVALID_ARGUMENT &&
            strcmp(kov_client_errmsg(till.client),
                   "The amount 12.509 has more than two decimals: it would be sent as 12.50.") == 0 &&
            !kov_running(till.client),
        "%s", kov_client_errmsg(till.client));
  kov_client_free(till.client);
}

/* Each client trusts the certificates it is given, and no other client's: against the TLS
 * simulator the one given its test CA is approved, the other never sends its request. */
static void test_trust_per_client(const char *cert_dir) {
  char ca[192];
  snprintf(ca, sizeof ca, "%s/ca.pem", cert_dir);
  struct till trusting, other;
  kov_client *clients[2];
  struct till *tills[2] = {&trusting, &other};
  for (int i = 0; i < 2; ++i) {
    memset(tills[i], 0, sizeof *tills[i]);
    CHECK(kov_client_new(tls_url, &clients[i]) == KOV_OK, "%s", kov_client_errmsg(NULL));
    tills[i]->client = clients[i];
    kov_client_set_retry_spacing(clients[i], 0);
  }
  CHECK(kov_client_trust_ca_file(trusting.client, ca) == KOV_OK, "%s", kov_client_errmsg(trusting.client));
  for (int i = 0; i < 2; ++i) {
    const char *ref = i == 0 ? "C-TRUSTED" : "C-UNTRUSTED";
    const kov_transaction txn = purchase(ref, ref, "sim:approve");
    const kov_callbacks callbacks = {sizeof(kov_callbacks), on_screen, on_result, NULL, on_signature, tills[i]};
    CHECK(kov_start(clients[i], &txn, &callbacks) == KOV_OK && kov_run(clients[i], 60000) == KOV_OK, "%s", ref);
  }
  CHECK(trusting.result == KOV_RESULT_SUCCEEDED, "%d %s", trusting.result, trusting.reason);
  CHECK(other.result == KOV_RESULT_TIMEOUT && other.request_sent == 0 &&
            strncmp(other.reason, "certificate not trusted: ", 25) == 0,
        "%d %d %s", other.result, other.request_sent, other.reason);
  for (int i = 0; i < 2; ++i) kov_client_free(clients[i]);
}

int main(void) {
  const pid_t simulator = start_simulator(url, NULL);
  char cert_dir[] = "/tmp/kov-c-certs-XXXXXX";
  if (!mkdtemp(cert_dir)) abort();
  const pid_t tls_simulator = start_simulator(tls_url, cert_dir);
  test_refusal();
  test_press_on_own_loop();
  test_two_threads();
  test_cancel_from_another_thread();
  test_trust_per_client(cert_dir);
  for (int i = 0; i < 2; ++i) {
    kill(i == 0 ? simulator : tls_simulator, SIGTERM);
    waitpid(i == 0 ? simulator : tls_simulator, NULL, 0);
  }
  char remove_certs[96];
  snprintf(remove_certs, sizeof remove_certs, "rm -rf %s", cert_dir);
  if (system(remove_certs) != 0) ++failures;
  if (failures) fprintf(stderr, "%d checks failed\n", failures);
  return failures ? 1 : 0;
}
