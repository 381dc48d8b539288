#include <KOVModule/KOVQtTransport.h>

#include <KOVModule/WqKOV.h>

#include "KOVQtMainQueue.h"
#include "KOVQtSession.h"
#include "KOVQtTrustStore.h"

KOVURLSessionFactory KOVQtTransport::sessionFactory() {
  return []() -> std::unique_ptr<KOVURLSession> {
    // Each session takes the trust settings as they are when it is made.
    return std::make_unique<kovqt::Session>(kovqt::sessionSslConfiguration());
  };
}

std::shared_ptr<KOVMainQueue> KOVQtTransport::mainQueue() { return std::make_shared<kovqt::MainQueue>(); }

void KOVQtTransport::install(WqKOV& engine) {
  engine.setSessionFactory(sessionFactory());
  engine.setMainQueue(mainQueue());
}

bool KOVQtTransport::addTrustedCertificates(const std::string& pemFilePath, std::string* why) {
  return kovqt::addTrustedCertificates(pemFilePath, why);
}

void KOVQtTransport::clearTrustedCertificates() { kovqt::clearTrustedCertificates(); }
