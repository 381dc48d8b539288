#pragma once
// What the consumers share: the purchase they run and the lines they print.
//   kov-consumer-KIND URL STATION TXNREF [MERCHANTREF]
// prints "module VERSION", "screen STATE LINE" for each screen and "result CODE TEXT"; the exit
// status is 0 when approved, 1 for any other result, 2 for bad arguments.
#include <KOVModule/KOVModule.h>

#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

namespace consumer {

/// Starts a purchase of 12.50 AUD by the simulator's merchant on engine, with the station,
/// reference and merchant reference of the command line; done(exit status) runs with the result.
inline void startPurchase(WqKOV& engine, int argc, char** argv, std::function<void(int)> done) {
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
      [done = std::move(done)](KOVTransactionResultDetails result) {
        std::cout << "result " << result.transactionResult << " " << result.responseText.value_or("") << std::endl;
        done(result.transactionResult == KOVTransactionResultSucceeded ? 0 : 1);
      },
      {});
}

}  // namespace consumer
