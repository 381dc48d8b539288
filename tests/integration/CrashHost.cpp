// kov-cli with hooks only a test needs, given before kov-cli's own arguments:
//   --kill-before-send     dies (SIGKILL) as the transaction request is handed to the transport
//   --kill-before-result   dies as the result arrives, before its line is written
// The points a signal from outside cannot hit exactly; the others are killed from outside.
#include <KOVModule/KOVURLSession.h>


#include <csignal>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "CliOptions.h"
#include "CliRun.h"

namespace {

// Hands every request on, but dies before a transaction request leaves.
class DyingSession : public KOVURLSession {
 public:
  explicit DyingSession(std::unique_ptr<KOVURLSession> inner) : _inner(std::move(inner)) {}
  KOVRequestId post(const std::string& url, const std::string& body, double timeoutSeconds,
                    ResponseHandler completion) override {
    if (body.find("<TxnType>Status</TxnType>") == std::string::npos &&
        body.find("<TxnType>UI</TxnType>") == std::string::npos) {
      ::raise(SIGKILL);
    }
    return _inner->post(url, body, timeoutSeconds, std::move(completion));
  }
  void cancel(KOVRequestId request) override { _inner->cancel(request); }
  void invalidateAndCancel() override { _inner->invalidateAndCancel(); }

 private:
  std::unique_ptr<KOVURLSession> _inner;
};

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  kovcli::CliRunHooks hooks;
  for (; !args.empty() && args.front().find("-before-") != std::string::npos; args.erase(args.begin())) {
    if (args.front() == "--kill-before-send") {
      hooks.wrapSessions = [](KOVURLSessionFactory sessions) -> KOVURLSessionFactory {
        return [sessions] { return std::unique_ptr<KOVURLSession>(std::make_unique<DyingSession>(sessions())); };
      };
    } else if (args.front() == "--kill-before-result") {
      hooks.beforeResultLine = [] { ::raise(SIGKILL); };
    }
  }
  const char* kovKey = std::getenv("KOV_KEY");
  auto parsed = kovcli::parseCliOptions(args, kovKey ? std::optional<std::string>(kovKey) : std::nullopt);
  if (const auto* error = std::get_if<kovcli::CliUsageError>(&parsed)) {
    std::cerr << kovcli::usageErrorLine(error->message) << std::endl;
    return 2;
  }
  return kovcli::runTransaction(std::get<kovcli::CliOptions>(parsed), hooks);
}
