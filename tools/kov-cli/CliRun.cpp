#include "CliRun.h"

#include <KOVModule/KOVCurlTransport.h>
#include <KOVModule/KOVPollLoop.h>
#include <KOVModule/KOVSqliteJournal.h>
#include <KOVModule/WqKOV.h>

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "CliButtonReader.h"
#include "ToolJson.h"

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
  // Listing writes nothing: it works on a read-only or full disk, and beside a running till.
  std::string why;
  const std::unique_ptr<KOVSqliteJournal> journal = KOVSqliteJournal::openForReading(*options.journal, &why);
  std::vector<KOVJournalEntry> entries;
  if (!journal || !journal->unfinished(entries, &why)) {
    errLine(usageErrorLine("--journal " + (journal ? *options.journal + ": " : std::string()) + why));
    return 2;
  }
  errno = 0;
  for (const KOVJournalEntry& entry : entries) {
    std::fprintf(stdout, "%s\n", kovtools::pendingJson(entry).c_str());
  }
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    // A list cut short would pass for the whole one.
    errLine("kov-cli: the list could not be written to standard output: " +
            std::string(errno ? std::strerror(errno) : "write failed"));
    return 3;
  }
  return 0;
}

void blockInterrupts() {
  sigset_t interrupt;
  sigemptyset(&interrupt);
  sigaddset(&interrupt, SIGINT);
  sigprocmask(SIG_BLOCK, &interrupt, nullptr);
}

namespace {

// The first SIGINT, read from a descriptor on the loop, asks the terminal to cancel; then the
// signal is let through, so that a second one ends the program (the payment abandoned).
class InterruptReader {
 public:
  InterruptReader(std::shared_ptr<KOVEventLoop> loop, std::function<void()> onInterrupt)
      : _loop(std::move(loop)), _onInterrupt(std::move(onInterrupt)) {
    sigset_t interrupt;
    sigemptyset(&interrupt);
    sigaddset(&interrupt, SIGINT);
    sigset_t blocked;
    if (sigprocmask(SIG_BLOCK, nullptr, &blocked) != 0 || !sigismember(&blocked, SIGINT)) {
      return;  // not blocked by the program: Ctrl-C keeps its default
    }
    _fd = signalfd(-1, &interrupt, SFD_CLOEXEC | SFD_NONBLOCK);
    if (_fd >= 0) {
      _loop->watchSocket(_fd, KOVSocketRead, [this](uint32_t) { interrupted(); });
    }
  }
  ~InterruptReader() { stop(); }
  InterruptReader(const InterruptReader&) = delete;
  InterruptReader& operator=(const InterruptReader&) = delete;

  void stop() {
    if (_fd >= 0) {
      _loop->unwatchSocket(_fd);
      ::close(_fd);
      _fd = -1;
    }
  }

 private:
  void interrupted() {
    signalfd_siginfo info{};
    while (::read(_fd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
    }
    stop();
    sigset_t interrupt;
    sigemptyset(&interrupt);
    sigaddset(&interrupt, SIGINT);
    sigprocmask(SIG_UNBLOCK, &interrupt, nullptr);
    _onInterrupt();
  }

  std::shared_ptr<KOVEventLoop> _loop;
  std::function<void()> _onInterrupt;
  int _fd = -1;
};

// The line that tells the operator why the result is not the service's answer.
std::string outcomeLine(const KOVTransactionResultDetails& result, const KOVTransactionOutcome& outcome) {
  std::string line = "kov-cli: " + outcome.reason.value_or("");
  if (result.transactionResult == KOVTransactionResultTimeout) {
    line = "kov-cli: no answer from the service: " + outcome.reason.value_or("") +
           (outcome.requestSent ? "; the payment may have reached it: recover " + outcome.txnRef
                                : "; the transaction request never left: nothing was charged");
  }
  return line;
}

}  // namespace

int forgetEntry(const CliOptions& options) {
  const std::shared_ptr<KOVSqliteJournal> journal = openJournal(*options.journal);
  if (!journal) {
    return 2;
  }
  WqKOV engine;
  engine.setJournal(journal);
  // The journal's own line says what was forgotten: the operator's record of it.
  engine.setDebugLog(true, [](KOVTransactionLogEntryType, const std::string& entry) { errLine("kov-cli: " + entry); });
  std::string why;
  if (!engine.forget(*options.details.txnRef, &why)) {
    errLine(usageErrorLine(why));
    return 2;
  }
  return 0;
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
  // Unset, the engine's own pacing holds.
  if (options.retrySpacing) engine.setRetrySpacing(*options.retrySpacing);
  if (options.pollFloor) engine.setPollFloor(*options.pollFloor);
  if (options.deadline) engine.setTransactionDeadline(*options.deadline);
  // Whatever would not arrive as the operator meant it, or would reuse a reference, is refused
  // before anything is sent.
  const std::optional<KOVRefusal> refusal =
      options.recover ? engine.refusalOfRecovery(options.recovery, KOVRecordCheckStrict)
                      : engine.refusalOfStart(options.details, options.txnType, KOVRecordCheckStrict);
  if (refusal) {
    errLine(usageErrorLine(refusal->reason));
    return 2;
  }

  std::optional<int> exitCode;
  std::optional<std::string> shownButton1, shownButton2;

  CliButtonReader reader(loop, [&](const std::string& line) {
    if (!engine.isTransactionInProgress()) return;
    // The label last shown goes with the press, as the status screen would send it.
    if (line == "B1" && shownButton1) engine.sendButtonRequest("B1", *shownButton1);
    if (line == "B2" && shownButton2) engine.sendButtonRequest("B2", *shownButton2);
    if (line == "cancel") engine.cancelTransaction();
  });
  InterruptReader interrupts(loop, [&engine] {
    if (engine.cancelTransaction()) {
      errLine("kov-cli: cancel asked at the terminal; Ctrl-C again abandons the payment (the terminal may still "
              "approve: recover it)");
    }
  });

  KOVTransactionDebugLogHandler logHandler;
  if (options.debug) {
    logHandler = [](KOVTransactionLogEntryType type, const std::string& entry) {
      errLine(kovtools::logJson(type, entry));
    };
  }
  StatusChangeHandler statusHandler = [&](KOVState state, const std::optional<std::string>& receipt,
                                          const std::string& firstLine, const std::string& secondLine,
                                          const std::optional<std::string>& button1,
                                          const std::optional<std::string>& button2) {
    shownButton1 = button1;
    shownButton2 = button2;
    errLine(kovtools::statusJson(state, receipt, firstLine, secondLine, button1, button2));
  };
  KOVTransactionResultHandler resultHandler = [&](KOVTransactionResultDetails result) {
    if (hooks.beforeResultLine) hooks.beforeResultLine();
    // The record is the whole point of the run: a line that did not reach stdout must not
    // leave with the exit status of an approval.
    const KOVTransactionOutcome outcome = engine.lastOutcome();
    const std::string line = kovtools::resultJson(result, outcome) + "\n";
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
    if (outcome.reason) {
      errLine(outcomeLine(result, outcome));
    }
    reader.stop();
  };
  KOVTransactionSignatureReceiptHandler signatureHandler = [](const std::optional<std::string>& receipt) {
    errLine(kovtools::signatureReceiptJson(receipt));
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
  interrupts.stop();
  // Nothing outlives the run: outstanding requests are cancelled and their completions
  // delivered while the loop still exists.
  engine.releaseSession();
  loop->run(engine);
  return exitCode.value_or(1);
}

}  // namespace kovcli
