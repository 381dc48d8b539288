#include <KOVModule/KOVCurlTransport.h>

#include <KOVModule/WqKOV.h>

#include "KOVCurlSession.h"

KOVURLSessionFactory KOVCurlTransport::sessionFactory(std::shared_ptr<KOVEventLoop> loop) {
  return sessionFactory(std::move(loop), KOVCurlTrust::process());
}

KOVURLSessionFactory KOVCurlTransport::sessionFactory(std::shared_ptr<KOVEventLoop> loop,
                                                      std::shared_ptr<const KOVCurlTrust> trust) {
  return [loop = std::move(loop), trust = std::move(trust)]() -> std::unique_ptr<KOVURLSession> {
    // Each session takes the certificates as they are when it is made.
    return std::make_unique<kovcurl::KOVCurlSession>(loop, trust);
  };
}

void KOVCurlTransport::install(WqKOV& engine, std::shared_ptr<KOVEventLoop> loop) {
  engine.setSessionFactory(sessionFactory(loop));
  engine.setMainQueue(std::move(loop));
}

bool KOVCurlTransport::addTrustedCertificates(const std::string& pemFilePath, std::string* why) {
  return KOVCurlTrust::process()->addFile(pemFilePath, why);
}

bool KOVCurlTransport::addTrustedCertificatesPem(const std::string& pemText, std::string* why) {
  return KOVCurlTrust::process()->addPem(pemText, why);
}

void KOVCurlTransport::clearTrustedCertificates() { KOVCurlTrust::process()->clear(); }
