// A host without Qt: the engine on the curl transport and the library's own event loop.
#include <KOVModule/KOVModuleCurl.h>

#include <iostream>
#include <memory>

#include "../Purchase.h"

int main(int argc, char** argv) {
  if (argc < 4) return 2;
  std::cout << "module " << KOVModuleVersionString << std::endl;

  WqKOV& engine = WqKOV::get();
  const auto loop = std::make_shared<KOVPollLoop>();
  KOVCurlTransport::install(engine, loop);
  if (!engine.setEndpointUrls(argv[1], argv[1])) return 2;

  int status = 1;
  consumer::startPurchase(engine, argc, argv, [&status](int result) { status = result; });
  loop->run(engine);
  // Nothing outstanding outlives the loop: cancelled requests complete while it still runs.
  engine.releaseSession();
  loop->run(engine);
  return status;
}
