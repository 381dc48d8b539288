#include "CliRun.h"

#include <KOVModule/KOVCurlTransport.h>
#include <KOVModule/KOVPollLoop.h>
#include <KOVModule/KOVSqliteJournal.h>
#include <KOVModule/WqKOV.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "CliButtonReader.h"
#include "CliJson.h"

namespace kovcli {
namespace {

// Lines go out with stdio: iostreams would build the standard streams and their locale at
// start-up, half a megabyte more at the peak for nothing.
void errLine(const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); }

}  // namespace

namespace {

std::shared_ptr<KOVSqliteJournal> openJournal(const std::string& path) {
  std::string why;
  std::shared_ptr<KOVSqliteJournal> journal = KOVSqliteJournal::open(path, &why);
  if (!journal) {
    errLine(usageErrorLine("--journal " + why));
  }
  return journal;
}

}  // namespace

int listPending(const CliOptions& options) {
  const std::shared_ptr<KOVSqliteJournal> journal = openJournal(*options.journal);
  std::vector<KOVJournalEntry> entries;
  std::string why;
  if (!journal || !journal->unfinished(entries, &why)) {
    if (journal) errLine(usageErrorLine("--journal " + *options.journal + ": " + why));
    return 2;
  }
  for (const KOVJournalEntry& entry : entries) {
    std::fprintf(stdout, "%s\n", pendingJson(entry).c_str());
  }
  return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 3;
}

int runTransaction(const CliOptions& options, const CliRunHooks& hooks) {
  WqKOV& engine = WqKOV::get();
  const auto loop = std::make_shared<KOVPollLoop>();
  KOVCurlTransport::install(engine, loop);
  if (hooks.wrapSessions) {
    engine.setSessionFactory(hooks.wrapSessions(KOVCurlTransport::sessionFactory(loop)));
  }
  if (options.journal) {
    std::shared_ptr<KOVSqliteJournal> journal = openJournal(*options.journal);
    if (!journal) {
      return 2;
    }
    engine.setJournal(std::move(journal));
  }

  if (options.caFile) {
    std::string why;
    if (!KOVCurlTransport::addTrustedCertificates(*options.caFile, &why)) {
      errLine(usageErrorLine("--ca-file " + *options.caFile + ": " + why));
      return 2;
    }
  }
  if (options.endpoint) {
    engine.setEndpointUrls(*options.endpoint, *options.endpoint);  // accepted by the parser
  }
  engine.setRetrySpacing(options.retrySpacing);

  std::optional<int> exitCode;
  std::optional<std::string> shownButton1, shownButton2;

  CliButtonReader reader(loop, [&](const std::string& line) {
    if (!engine.isTransactionInProgress()) return;
    // The label last shown goes with the press, as the status screen would send it.
    if (line == "B1" && shownButton1) engine.sendButtonRequest("B1", *shownButton1);
    if (line == "B2" && shownButton2) engine.sendButtonRequest("B2", *shownButton2);
  });

  KOVTransactionDebugLogHandler logHandler;
  if (options.debug) {
    logHandler = [](KOVTransactionLogEntryType type, const std::string& entry) { errLine(logJson(type, entry)); };
  }
  StatusChangeHandler statusHandler = [&](KOVState state, const std::optional<std::string>& receipt,
                                          const std::string& firstLine, const std::string& secondLine,
                                          const std::optional<std::string>& button1,
                                          const std::optional<std::string>& button2) {
    shownButton1 = button1;
    shownButton2 = button2;
    errLine(statusJson(state, receipt, firstLine, secondLine, button1, button2));
  };
  KOVTransactionResultHandler resultHandler = [&](KOVTransactionResultDetails result) {
    if (hooks.beforeResultLine) hooks.beforeResultLine();
    // The record is the whole point of the run: a line that did not reach stdout must not
    // leave with the exit status of an approval.
    const std::string line = resultJson(result) + "\n";
    errno = 0;
    if (std::fwrite(line.data(), 1, line.size(), stdout) != line.size() || std::fflush(stdout) != 0) {
      errLine("kov-cli: the result could not be written to standard output: " +
              std::string(errno ? std::strerror(errno) : "write failed"));
      if (options.journal) {
        // The engine marks a result delivered once this handler returns: leaving now keeps
        // it answered in the journal, to be handed over again by a recovery.
        std::_Exit(3);
      }
      exitCode = 3;
    } else {
      exitCode = result.transactionResult == KOVTransactionResultSucceeded ? 0 : 1;
    }
    reader.stop();
  };
  KOVTransactionSignatureReceiptHandler signatureHandler = [](const std::optional<std::string>& receipt) {
    errLine(signatureReceiptJson(receipt));
  };

  if (options.recover) {
    engine.recoverTransaction(options.recovery, options.uat, options.debug, logHandler, statusHandler,
                              resultHandler, signatureHandler);
  } else {
    engine.startTransaction(std::make_shared<KOVTransactionDetails>(options.details), options.txnType, options.uat,
                            options.debug, logHandler, statusHandler, resultHandler, signatureHandler);
  }
  // Until the result has been delivered (and the ended transaction's late completions run).
  loop->run(engine);
  reader.stop();
  // Nothing outlives the run: outstanding requests are cancelled and their completions
  // delivered while the loop still exists.
  engine.releaseSession();
  loop->run(engine);
  return exitCode.value_or(1);
}

}  // namespace kovcli
