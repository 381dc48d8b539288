// A Qt host: the engine on the Qt event loop.
#include <KOVModule/KOVModuleQt.h>

#include <QCoreApplication>
#include <iostream>

#include "../Purchase.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc < 4) return 2;
  std::cout << "module " << KOVTransaction::getModuleVersion() << std::endl;

  WqKOV& engine = WqKOV::get();
  KOVQtTransport::install(engine);
  if (!engine.setEndpointUrls(argv[1], argv[1])) return 2;

  consumer::startPurchase(engine, argc, argv, [](int status) { QCoreApplication::exit(status); });
  const int status = app.exec();
  engine.releaseSession();  // nothing outstanding outlives the event loop
  return status;
}
