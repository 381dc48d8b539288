#include "CliRun.h"

#include <KOVModule/KOVCurlTransport.h>
#include <KOVModule/KOVPollLoop.h>
#include <KOVModule/WqKOV.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "CliButtonReader.h"
#include "CliJson.h"

namespace kovcli {
namespace {

void errLine(const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); }

}  // namespace

int runTransaction(const CliOptions& options) {
  WqKOV& engine = WqKOV::get();
  const auto loop = std::make_shared<KOVPollLoop>();
  KOVCurlTransport::install(engine, loop);

  if (options.caFile) {
    std::string why;
    if (!KOVCurlTransport::addTrustedCertificates(*options.caFile, &why)) {
      errLine(usageErrorLine("--ca-file " + *options.caFile + ": " + why));
      return 2;
    }
  }
  if (options.endpoint) {
    std::string why;
    if (!KOVEndpointPolicy::isAcceptable(*options.endpoint, &why)) {
      errLine(usageErrorLine("--endpoint refused: " + why));
      return 2;
    }
    engine.setEndpointUrls(*options.endpoint, *options.endpoint);
  }

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
    std::printf("%s\n", resultJson(result).c_str());
    std::fflush(stdout);
    exitCode = result.transactionResult == KOVTransactionResultSucceeded ? 0 : 1;
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
