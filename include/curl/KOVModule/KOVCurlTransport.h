#pragma once
#include <KOVModule/KOVCurlTrust.h>
#include <KOVModule/KOVEventLoop.h>
#include <KOVModule/KOVExport.h>
#include <KOVModule/KOVURLSession.h>

#include <memory>
#include <string>

class WqKOV;

/// The engine's HTTP client over libcurl, driven by an event loop (KOVPollLoop, or the Qt
/// event loop through KOVQtTransport). Every request is one HTTPS POST (plain HTTP only to a
/// loopback host) with "Content-Type: text/xml" and no other header of ours, sent at most
/// once, over HTTP/1.1 connections kept alive for the session, with TLS always verified
/// against the system store and the certificates added here. Redirects are not followed and
/// answers are asked for uncompressed. Every completion runs once, later, from the loop. An
/// HTTP answer of any status is data; everything else is an NSURLErrorDomain error: time-out
/// -1001, host not found -1003, refused -1004, connection lost -1005 (also when the
/// connection closed after the request was sent: it is never sent again), TLS -1200
/// (untrusted certificate -1202), cancelled -999, answer over kov::kMaxResponseBytes -1103,
/// URL refused -1000 or -1002.
class KOV_CURL_EXPORT KOVCurlTransport {
 public:
  /// A factory of sessions driven by loop, trusting the process's certificates; each session
  /// keeps the loop alive.
  static KOVURLSessionFactory sessionFactory(std::shared_ptr<KOVEventLoop> loop);
  /// The same, trusting these certificates besides the system's instead of the process's.
  static KOVURLSessionFactory sessionFactory(std::shared_ptr<KOVEventLoop> loop,
                                             std::shared_ptr<const KOVCurlTrust> trust);
  /// Installs sessions on loop, and loop as the main queue, into the engine.
  static void install(WqKOV& engine, std::shared_ptr<KOVEventLoop> loop);
  /// Also trusts the certificates of a PEM file (e.g. a local simulator's test CA), for every
  /// session of the process made afterwards (KOVCurlTrust::process()); false (and why) when
  /// the file holds none or is unreadable.
  static bool addTrustedCertificates(const std::string& pemFilePath, std::string* why = nullptr);
  /// The same for PEM text held in memory.
  static bool addTrustedCertificatesPem(const std::string& pemText, std::string* why = nullptr);
  /// Forgets the added certificates (the system store stays), for sessions made afterwards.
  static void clearTrustedCertificates();
};
