#include "SimCertificates.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>

#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace kovsim {
namespace {

struct KeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct CertFree {
  void operator()(X509* cert) const { X509_free(cert); }
};
struct ExtFree {
  void operator()(X509_EXTENSION* ext) const { X509_EXTENSION_free(ext); }
};
struct FileClose {
  void operator()(FILE* file) const { std::fclose(file); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;
using Cert = std::unique_ptr<X509, CertFree>;

constexpr long kValiditySeconds = 30L * 24 * 60 * 60;

Key newKey() { return Key(EVP_EC_gen("P-256")); }

bool addExtension(X509* cert, X509* issuer, int nid, const char* value) {
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
  std::unique_ptr<X509_EXTENSION, ExtFree> ext(X509V3_EXT_conf_nid(nullptr, &ctx, nid, value));
  return ext && X509_add_ext(cert, ext.get(), -1) == 1;
}

bool setRandomSerial(X509* cert) {
  unsigned char bytes[16];
  if (RAND_bytes(bytes, sizeof bytes) != 1) {
    return false;
  }
  bytes[0] &= 0x7f;  // a positive serial
  BIGNUM* serial = BN_bin2bn(bytes, sizeof bytes, nullptr);
  const bool done = serial && BN_to_ASN1_INTEGER(serial, X509_get_serialNumber(cert)) != nullptr;
  BN_free(serial);
  return done;
}

// What a certificate says beyond its key and issuer.
struct Shape {
  const char* commonName;
  const char* altNames;  // nullptr: a CA
  long notBefore = -3600;
  long notAfter = kValiditySeconds;
};

// A certificate for key, signed by signer (itself when issuer is null).
Cert newCertificate(EVP_PKEY* key, const Shape& shape, X509* issuer, EVP_PKEY* signer) {
  Cert cert(X509_new());
  if (!cert || X509_set_version(cert.get(), 2) != 1 || !setRandomSerial(cert.get()) ||
      !X509_gmtime_adj(X509_getm_notBefore(cert.get()), shape.notBefore) ||
      !X509_gmtime_adj(X509_getm_notAfter(cert.get()), shape.notAfter) || X509_set_pubkey(cert.get(), key) != 1) {
    return nullptr;
  }
  X509_NAME* name = X509_get_subject_name(cert.get());
  if (X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("KOV Simulator"),
                                 -1, -1, 0) != 1 ||
      X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(shape.commonName),
                                 -1, -1, 0) != 1) {
    return nullptr;
  }
  X509* issuerCert = issuer ? issuer : cert.get();
  if (X509_set_issuer_name(cert.get(), X509_get_subject_name(issuerCert)) != 1) {
    return nullptr;
  }
  bool extensionsDone = addExtension(cert.get(), issuerCert, NID_subject_key_identifier, "hash");
  if (shape.altNames) {
    extensionsDone = extensionsDone && addExtension(cert.get(), issuerCert, NID_authority_key_identifier, "keyid:always") &&
                     addExtension(cert.get(), issuerCert, NID_basic_constraints, "critical,CA:FALSE") &&
                     addExtension(cert.get(), issuerCert, NID_key_usage, "critical,digitalSignature,keyEncipherment") &&
                     addExtension(cert.get(), issuerCert, NID_ext_key_usage, "serverAuth") &&
                     addExtension(cert.get(), issuerCert, NID_subject_alt_name, shape.altNames);
  } else {
    extensionsDone = extensionsDone && addExtension(cert.get(), issuerCert, NID_basic_constraints, "critical,CA:TRUE") &&
                     addExtension(cert.get(), issuerCert, NID_key_usage, "critical,keyCertSign,cRLSign");
  }
  if (!extensionsDone || X509_sign(cert.get(), signer, EVP_sha256()) == 0) {
    return nullptr;
  }
  return cert;
}

std::unique_ptr<FILE, FileClose> openForWriting(const std::string& path, mode_t mode) {
  // Created afresh with its final mode, so a private key is never readable by others.
  std::error_code ignored;
  std::filesystem::remove(path, ignored);
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (fd < 0) {
    return nullptr;
  }
  std::unique_ptr<FILE, FileClose> file(::fdopen(fd, "w"));
  if (!file) {
    ::close(fd);
  }
  return file;
}

bool writeCertificate(const std::string& path, X509* cert) {
  auto file = openForWriting(path, 0644);
  return file && PEM_write_X509(file.get(), cert) == 1;
}

bool writeKey(const std::string& path, EVP_PKEY* key) {
  auto file = openForWriting(path, 0600);
  return file && PEM_write_PrivateKey(file.get(), key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
}

}  // namespace

std::optional<SimCertificateFiles> writeTestCertificates(const std::string& dir, SimCertificateKind kind,
                                                         std::string& error) {
  std::error_code fsError;
  std::filesystem::create_directories(dir, fsError);
  if (fsError) {
    error = "cannot create " + dir + ": " + fsError.message();
    return std::nullopt;
  }
  const Shape caShape{"KOV Simulator Test CA", nullptr};
  Shape serverShape{"localhost", "IP:127.0.0.1,DNS:localhost"};
  if (kind == SimCertificateKind::WrongHost) {
    serverShape = {"pay.example.com", "DNS:pay.example.com"};
  } else if (kind == SimCertificateKind::Expired) {
    serverShape.notBefore = -2 * 86400;
    serverShape.notAfter = -86400;
  }
  Key caKey = newKey();
  Key otherCaKey = newKey();
  Key serverKey = newKey();
  if (!caKey || !otherCaKey || !serverKey) {
    error = "cannot generate keys";
    return std::nullopt;
  }
  Cert ca = newCertificate(caKey.get(), caShape, nullptr, caKey.get());
  Cert otherCa = newCertificate(otherCaKey.get(), {"KOV Simulator Unknown CA", nullptr}, nullptr, otherCaKey.get());
  const bool unknown = kind == SimCertificateKind::UnknownCa;
  X509* issuer = unknown ? otherCa.get() : ca.get();
  Cert server = issuer ? newCertificate(serverKey.get(), serverShape, issuer, unknown ? otherCaKey.get() : caKey.get())
                       : nullptr;
  if (!ca || !server) {
    error = "cannot build the certificates";
    return std::nullopt;
  }
  const std::filesystem::path base(dir);
  SimCertificateFiles files{(base / "ca.pem").string(), (base / "server.pem").string(),
                            (base / "server-key.pem").string()};
  if (!writeCertificate(files.caCertificate, ca.get()) || !writeCertificate(files.serverCertificate, server.get()) ||
      !writeKey(files.serverKey, serverKey.get())) {
    error = "cannot write the certificates into " + dir;
    return std::nullopt;
  }
  return files;
}

}  // namespace kovsim
