// Runs one purchase of 12.50 AUD against the service at URL and prints the outcome:
//   kov-consumer URL STATION TXNREF [MERCHANTREF]
// Exit status 0 when approved, 1 for any other result, 2 for bad arguments.
#include <KOVModule/KOVModuleQt.h>

#include <QCoreApplication>
#include <iostream>

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc < 4) return 2;
  std::cout << "module " << KOVTransaction::getModuleVersion() << std::endl;

  WqKOV& engine = WqKOV::get();
  KOVQtTransport::install(engine);
  if (!engine.setEndpointUrls(argv[1], argv[1])) return 2;

  auto details = std::make_shared<KOVTransactionDetails>();
  details->userName = "merchant";
  details->key = "s3cret";
  details->stationId = argv[2];
  details->txnRef = argv[3];
  details->amount = KOVDecimal::parse("12.50");
  details->currencyCode = "AUD";
  if (argc > 4) details->merchantRef = argv[4];

  engine.startTransaction(
      details, KOVTransactionTypePurchase, false, false, {},
      [](KOVState state, const std::optional<std::string>&, const std::string& line1, const std::string&,
         const std::optional<std::string>&, const std::optional<std::string>&) {
        std::cout << "screen " << state << " " << line1 << std::endl;
      },
      [](KOVTransactionResultDetails result) {
        std::cout << "result " << result.transactionResult << " " << result.responseText.value_or("") << std::endl;
        QCoreApplication::exit(result.transactionResult == KOVTransactionResultSucceeded ? 0 : 1);
      },
      {});
  const int status = app.exec();
  engine.releaseSession();  // nothing outstanding outlives the event loop
  return status;
}
