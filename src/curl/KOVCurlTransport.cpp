#include <KOVModule/KOVCurlTransport.h>

#include <KOVModule/WqKOV.h>

#include "KOVCurlSession.h"
#include "KOVCurlTrustStore.h"

KOVURLSessionFactory KOVCurlTransport::sessionFactory(std::shared_ptr<KOVEventLoop> loop) {
  return [loop = std::move(loop)]() -> std::unique_ptr<KOVURLSession> {
    // Each session takes the trust settings as they are when it is made.
    return std::make_unique<kovcurl::KOVCurlSession>(loop, kovcurl::sessionAuthorities());
  };
}

void KOVCurlTransport::install(WqKOV& engine, std::shared_ptr<KOVEventLoop> loop) {
  engine.setSessionFactory(sessionFactory(loop));
  engine.setMainQueue(std::move(loop));
}

bool KOVCurlTransport::addTrustedCertificates(const std::string& pemFilePath, std::string* why) {
  return kovcurl::addTrustedCertificatesFile(pemFilePath, why);
}

bool KOVCurlTransport::addTrustedCertificatesPem(const std::string& pemText, std::string* why) {
  return kovcurl::addTrustedCertificatesPem(pemText, why);
}

void KOVCurlTransport::clearTrustedCertificates() { kovcurl::clearTrustedCertificates(); }
