#pragma once
#include <KOVModule/KOVExport.h>
#include <memory>
#include <string>

#include <KOVModule/KOVURLSession.h>

class WqKOV;

/// The engine's HTTP client and main queue over Qt: the curl transport (KOVCurlTransport)
/// driven by the Qt event loop through socket notifiers and timers, on the application's
/// thread, with no thread of its own. Every request is one HTTPS POST (plain HTTP only to a
/// loopback host), sent at most once, over HTTP/1.1 connections kept alive for the session,
/// with TLS always verified. Every completion runs once, later, from the event loop of the
/// QCoreApplication (which must exist); sessions are made and used on its thread. An HTTP answer of any status is data;
/// everything else is an NSURLErrorDomain error: time-out -1001, host not found -1003,
/// refused -1004, connection lost -1005 (also when the connection closed after the request
/// was sent: it is never sent again), TLS -1200 (untrusted certificate -1202), cancelled -999,
/// answer over kov::kMaxResponseBytes -1103, URL refused -1000 or -1002.
class KOV_QT_EXPORT KOVQtTransport {
 public:
  /// A factory of curl sessions on the Qt event loop.
  static KOVURLSessionFactory sessionFactory();
  /// The main queue over the Qt event loop of the application's main thread.
  static std::shared_ptr<KOVMainQueue> mainQueue();
  /// Installs both into the engine.
  static void install(WqKOV& engine);
  /// Also trusts the certificates of a PEM file (e.g. a local simulator's test CA), for
  /// every session made afterwards; false (and why) when the file holds none or is unreadable.
  /// The same as KOVCurlTransport::addTrustedCertificates.
  static bool addTrustedCertificates(const std::string& pemFilePath, std::string* why = nullptr);
  /// Forgets certificates added by addTrustedCertificates (the system store stays).
  static void clearTrustedCertificates();
};
