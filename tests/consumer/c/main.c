/* A host in C: the C interface, with the journal in a file of its own that lists nothing
 * once the result has been handed over. Arguments and output as Purchase.h says. */
#include <KOVModule/kov.h>

#include <stdio.h>
#include <string.h>
#include <unistd.h>

static void on_screen(void *user_data, const kov_screen *screen) {
  (void)user_data;
  printf("screen %d %s\n", screen->state, screen->line1);
}

static void on_result(void *status, const kov_result *result) {
  printf("result %d %s\n", result->result, result->response_text ? result->response_text : "");
  *(int *)status = result->result == KOV_RESULT_SUCCEEDED ? 0 : 1;
}

int main(int argc, char **argv) {
  if (argc < 4) return 2;
  printf("module %s\n", kov_version());
  kov_client *client = NULL;
  if (kov_client_new(argv[1], &client) != KOV_OK) {
    fprintf(stderr, "%s\n", kov_client_errmsg(NULL));
    return 2;
  }
  char journal[64];
  snprintf(journal, sizeof journal, "/tmp/kov-consumer-c-%d.db", (int)getpid());
  int status = 2;
  kov_transaction txn;
  memset(&txn, 0, sizeof txn);
  txn.size = sizeof txn;
  txn.type = KOV_PURCHASE;
  txn.user = "merchant";
  txn.key = "s3cret";
  txn.station = argv[2];
  txn.txn_ref = argv[3];
  txn.amount = "12.50";
  txn.currency = "AUD";
  txn.merchant_ref = argc > 4 ? argv[4] : NULL;
  const kov_callbacks callbacks = {sizeof callbacks, on_screen, on_result, NULL, NULL, &status};
  kov_pending_list *pending = NULL;
  if (kov_client_set_journal(client, journal) != KOV_OK || kov_start(client, &txn, &callbacks) != KOV_OK ||
      kov_run(client, 60000) != KOV_OK || kov_pending_get(client, &pending) != KOV_OK ||
      kov_pending_count(pending) != 0) {
    fprintf(stderr, "%s (%zu pending)\n", kov_client_errmsg(client), kov_pending_count(pending));
    status = 2;
  }
  kov_pending_list_free(pending);
  kov_client_free(client);
  const char *suffixes[] = {"", "-wal", "-shm"};
  for (size_t i = 0; i < 3; ++i) {
    char file[80];
    snprintf(file, sizeof file, "%s%s", journal, suffixes[i]);
    unlink(file);
  }
  return status;
}
