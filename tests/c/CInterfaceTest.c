/* A host in C: a press made from on_screen on a loop of the host's own, two clients on two
 * threads at once, and what the engine refuses through on_result. (Every outcome, recovery
 * and the journal are the Python package's tables, which go through the same calls.) */
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
static pid_t start_simulator(void) {
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
  if (sscanf(line, "kov-simulator listening on %127s", url) != 1) abort();
  return simulator;
}

/* What one transaction handed its host; a YES pressed from on_screen at the signature step. */
struct till {
  kov_client *client;
  int press_code, results, result, signatures;
  char response_text[128];
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
  snprintf(till->response_text, sizeof till->response_text, "%s", result->response_text ? result->response_text : "");
}

static void on_signature(void *user_data, const char *receipt) { ((struct till *)user_data)->signatures += !!receipt; }

/* Starts a purchase on a client of its own, on a station named as its reference. */
static void start(struct till *till, const char *ref, const char *station, const char *merchant_ref) {
  memset(till, 0, sizeof *till);
  CHECK(kov_client_new(url, &till->client) == KOV_OK, "%s", kov_client_errmsg(NULL));
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
  const kov_callbacks callbacks = {sizeof(kov_callbacks), on_screen, on_result, NULL, on_signature, till};
  CHECK(kov_start(till->client, &txn, &callbacks) == KOV_OK, "%s", kov_client_errmsg(till->client));
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

/* What the engine itself refuses comes through on_result, after the start was taken. */
static void test_refusal(void) {
  struct till till;
  start(&till, "C-REFUSED", "ST\x01", "sim:approve");
  CHECK(kov_run(till.client, 5000) == KOV_OK && till.result == KOV_RESULT_FAILED &&
            strcmp(till.response_text, "The stationId cannot be sent: it holds a character XML cannot carry (a "
                                       "control character, U+FFFE or U+FFFF).") == 0,
        "%d %s", till.result, till.response_text);
  kov_client_free(till.client);
}

int main(void) {
  const pid_t simulator = start_simulator();
  test_refusal();
  test_press_on_own_loop();
  test_two_threads();
  kill(simulator, SIGTERM);
  waitpid(simulator, NULL, 0);
  if (failures) fprintf(stderr, "%d checks failed\n", failures);
  return failures ? 1 : 0;
}
