/* A host in C: outcomes through kov_start and kov_run, a press made from on_screen, two
 * clients on two threads at once, a host loop of its own on kov_fd, and a refusal with its
 * reason. (Every outcome, recovery and the journal are the Python package's tables, which go
 * through the same calls.) */
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
static pid_t simulator = -1;

/* kov-simulator on a port of the system's choosing; its first line names its address. */
static void start_simulator(void) {
  int out[2];
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
  if (sscanf(line, "kov-simulator listening on %127s", url) != 1) abort();
}

/* What one transaction handed its host. */
struct till {
  kov_client *client;
  const char *press;  /* the label to press at the signature step, from on_screen */
  int press_code;
  int results, result, screens, signatures, errors;
  char response_text[128];
};

static void on_screen(void *user_data, const kov_screen *screen) {
  struct till *till = user_data;
  ++till->screens;
  if (till->press && screen->state == KOV_STATE_SIGNATURE_REQUIRED) {
    const int first = screen->button1 && strcmp(screen->button1, till->press) == 0;
    till->press_code = kov_press(till->client, first ? "B1" : "B2", till->press);
    till->press = NULL;
  }
}

static void on_result(void *user_data, const kov_result *result) {
  struct till *till = user_data;
  ++till->results;
  till->result = result->result;
  snprintf(till->response_text, sizeof till->response_text, "%s", result->response_text ? result->response_text : "");
}

static void on_signature(void *user_data, const char *receipt) {
  struct till *till = user_data;
  till->signatures += receipt != NULL;
}

static void on_log(void *user_data, int type, const char *entry) {
  struct till *till = user_data;
  till->errors += type == KOV_LOG_ERROR;
  if (strstr(entry, KEY)) ++failures, fprintf(stderr, "the key in a log entry: %s\n", entry);
}

static kov_callbacks callbacks_of(struct till *till) {
  kov_callbacks callbacks = {sizeof(kov_callbacks), on_screen, on_result, on_log, on_signature, till};
  return callbacks;
}

static kov_transaction purchase(const char *ref, const char *merchant_ref, const char *key) {
  kov_transaction txn;
  memset(&txn, 0, sizeof txn);
  txn.size = sizeof txn;
  txn.type = KOV_PURCHASE;
  txn.user = "merchant";
  txn.key = key;
  txn.station = ref; /* a station of its own: the simulator's terminals take one at a time */
  txn.txn_ref = ref;
  txn.amount = "12.50";
  txn.currency = "AUD";
  txn.merchant_ref = merchant_ref;
  return txn;
}

/* One transaction to its end on a client of its own; the till's record of it. */
static struct till transact(const char *ref, const char *merchant_ref, const char *key, const char *press) {
  struct till till;
  memset(&till, 0, sizeof till);
  till.press = press;
  CHECK(kov_client_new(url, &till.client) == KOV_OK, "%s", kov_client_errmsg(NULL));
  const kov_transaction txn = purchase(ref, merchant_ref, key);
  const kov_callbacks callbacks = callbacks_of(&till);
  CHECK(kov_start(till.client, &txn, &callbacks) == KOV_OK, "%s", kov_client_errmsg(till.client));
  CHECK(kov_run(till.client, 30000) == KOV_OK, "%s: no result", ref);
  kov_client_free(till.client);
  return till;
}

static const struct outcome {
  const char *ref, *merchant_ref, *key, *press;
  int result, signatures;
} outcomes[] = {
    {"C-SIGNED", "sim:signature", KEY, "YES", KOV_RESULT_SUCCEEDED, 1},
    {"C-WRONG-KEY", "sim:approve", "wrong", NULL, KOV_RESULT_USER_KEY_NOT_MATCHED, 0},
    {"C-NO-SERVICE", "sim:http404", KEY, NULL, KOV_RESULT_TIMEOUT, 0},
};

static void test_outcomes(void) {
  for (size_t i = 0; i < sizeof outcomes / sizeof outcomes[0]; ++i) {
    const struct outcome *o = &outcomes[i];
    const struct till till = transact(o->ref, o->merchant_ref, o->key, o->press);
    CHECK(till.results == 1 && till.result == o->result, "%s: %d results, the last %d", o->ref, till.results, till.result);
    CHECK(till.signatures == o->signatures, "%s: %d signature receipts", o->ref, till.signatures);
    CHECK(till.press_code == KOV_OK, "%s: the press from on_screen gave %d", o->ref, till.press_code);
    CHECK(till.screens > 0 || o->result != KOV_RESULT_SUCCEEDED, "%s: no screen", o->ref);
  }
}

static void *approve_on_a_thread(void *ref) {
  struct till *till = malloc(sizeof *till);
  *till = transact(ref, "sim:approve", KEY, NULL);
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

/* The host's own loop: poll(2) on the one descriptor, with the client's time-out. */
static void test_own_loop(void) {
  struct till till;
  memset(&till, 0, sizeof till);
  CHECK(kov_client_new(url, &till.client) == KOV_OK, "%s", kov_client_errmsg(NULL));
  const kov_transaction txn = purchase("C-OWN-LOOP", "sim:approve", KEY);
  const kov_callbacks callbacks = callbacks_of(&till);
  CHECK(kov_start(till.client, &txn, &callbacks) == KOV_OK, "%s", kov_client_errmsg(till.client));
  CHECK(kov_run(till.client, 0) == KOV_RUNNING, "kov_run with no time left waited for the result");
  struct pollfd waiting = {kov_fd(till.client), POLLIN, 0};
  for (int rounds = 0; kov_running(till.client) && rounds < 100000; ++rounds) {
    poll(&waiting, 1, kov_timeout_ms(till.client));
    CHECK(kov_process(till.client) == KOV_OK, "%s", kov_client_errmsg(till.client));
  }
  CHECK(till.results == 1 && till.result == KOV_RESULT_SUCCEEDED, "%d results, the last %d", till.results, till.result);
  kov_client_free(till.client);
}

/* What the engine itself refuses comes through on_result, after the start was taken. */
static void test_refusals(void) {
  struct till till;
  memset(&till, 0, sizeof till);
  CHECK(kov_client_new(url, &till.client) == KOV_OK, "%s", kov_client_errmsg(NULL));
  const kov_callbacks callbacks = callbacks_of(&till);
  kov_transaction txn = purchase("C-REFUSED", "sim:approve", KEY);
  txn.station = "ST\x01";
  CHECK(kov_start(till.client, &txn, &callbacks) == KOV_OK, "%s", kov_client_errmsg(till.client));
  CHECK(kov_run(till.client, 5000) == KOV_OK && till.result == KOV_RESULT_FAILED &&
            strcmp(till.response_text, "The stationId cannot be sent: it holds a character XML cannot carry (a "
                                       "control character, U+FFFE or U+FFFF).") == 0,
        "%d %s", till.result, till.response_text);
  kov_client_free(till.client);
}

int main(void) {
  start_simulator();
  test_refusals();
  test_outcomes();
  test_two_threads();
  test_own_loop();
  kill(simulator, SIGTERM);
  waitpid(simulator, NULL, 0);
  if (failures) fprintf(stderr, "%d checks failed\n", failures);
  return failures ? 1 : 0;
}
