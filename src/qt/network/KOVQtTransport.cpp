#include <KOVModule/KOVQtTransport.h>

#include <KOVModule/KOVCurlTransport.h>
#include <KOVModule/WqKOV.h>

#include "KOVQtEventLoop.h"

KOVURLSessionFactory KOVQtTransport::sessionFactory() {
  return KOVCurlTransport::sessionFactory(std::make_shared<kovqt::QtEventLoop>());
}

std::shared_ptr<KOVMainQueue> KOVQtTransport::mainQueue() { return std::make_shared<kovqt::QtEventLoop>(); }

void KOVQtTransport::install(WqKOV& engine) { KOVCurlTransport::install(engine, std::make_shared<kovqt::QtEventLoop>()); }

bool KOVQtTransport::addTrustedCertificates(const std::string& pemFilePath, std::string* why) {
  return KOVCurlTransport::addTrustedCertificates(pemFilePath, why);
}

void KOVQtTransport::clearTrustedCertificates() { KOVCurlTransport::clearTrustedCertificates(); }
