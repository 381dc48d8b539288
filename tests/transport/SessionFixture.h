#pragma once
// A fresh session on the Qt event loop against a fresh loopback server for each test.
#include <KOVModule/KOVQtTransport.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "QtTestSupport.h"
#include "TestHttpServer.h"

namespace kovtest {

class SessionFixture : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server.start());
    session = KOVQtTransport::sessionFactory()();
  }
  void TearDown() override {
    session.reset();
    settle(20);  // lets queued completions and deferred deletions run before the next test
  }
  std::string url() const { return server.url().toStdString(); }
  KOVRequestId post(const std::string& body, double timeout = 10.0) {
    InsideCall inside(recorder);
    return session->post(url(), body, timeout, recorder.handler());
  }

  TestHttpServer server;
  std::unique_ptr<KOVURLSession> session;
  Recorder recorder;
};

}  // namespace kovtest
