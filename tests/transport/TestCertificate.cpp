#include "TestCertificate.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>
#include <stdexcept>

namespace kovtest {
namespace {

template <typename T, void (*Free)(T*)>
struct Deleter {
  void operator()(T* p) const { Free(p); }
};
using Key = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using Cert = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using Bio = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;
using Extension = std::unique_ptr<X509_EXTENSION, Deleter<X509_EXTENSION, X509_EXTENSION_free>>;

void check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(what);
}

QByteArray drain(BIO* bio) {
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio, &data);
  return QByteArray(data, static_cast<qsizetype>(size));
}

void addExtension(X509* cert, int nid, const char* value) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, cert, cert, nullptr, nullptr, 0);
  Extension extension(X509V3_EXT_conf_nid(nullptr, &context, nid, value));
  check(extension != nullptr, "extension");
  check(X509_add_ext(cert, extension.get(), -1) == 1, "add extension");
}

}  // namespace

TestCertificate makeCertificate(const CertificateOptions& options) {
  Key key(EVP_EC_gen("P-256"));
  check(key != nullptr, "key");
  Cert cert(X509_new());
  check(cert != nullptr, "certificate");
  check(X509_set_version(cert.get(), 2) == 1, "version");
  check(ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 7) == 1, "serial");
  check(X509_gmtime_adj(X509_getm_notBefore(cert.get()), options.notBeforeSeconds) != nullptr, "not before");
  check(X509_gmtime_adj(X509_getm_notAfter(cert.get()), options.notAfterSeconds) != nullptr, "not after");
  check(X509_set_pubkey(cert.get(), key.get()) == 1, "public key");
  X509_NAME* name = X509_get_subject_name(cert.get());
  check(X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("kov test"), -1,
                                   -1, 0) == 1,
        "name");
  check(X509_set_issuer_name(cert.get(), name) == 1, "issuer");
  addExtension(cert.get(), NID_subject_alt_name, options.subjectAltName);
  addExtension(cert.get(), NID_basic_constraints, "critical,CA:TRUE");
  check(X509_sign(cert.get(), key.get(), EVP_sha256()) > 0, "sign");

  TestCertificate out;
  Bio certBio(BIO_new(BIO_s_mem()));
  check(PEM_write_bio_X509(certBio.get(), cert.get()) == 1, "write certificate");
  out.certificatePem = drain(certBio.get());
  Bio keyBio(BIO_new(BIO_s_mem()));
  check(PEM_write_bio_PrivateKey(keyBio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) == 1, "write key");
  out.privateKeyPem = drain(keyBio.get());
  return out;
}

TestCertificate makeSelfSignedCertificate() { return makeCertificate({}); }

}  // namespace kovtest
