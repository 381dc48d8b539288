// Qt's failures as the URL-layer errors the engine counts.
#include <gtest/gtest.h>

#include "KOVQtNetworkErrors.h"

namespace kovtest {
namespace {

using kovqt::EndReason;

struct Mapping {
  QNetworkReply::NetworkError qt;
  EndReason reason;
  int32_t code;
};

class QtErrorMapping : public testing::TestWithParam<Mapping> {};

TEST_P(QtErrorMapping, GivesTheFittingUrlErrorCode) {
  const KOVError error = kovqt::urlErrorFor(GetParam().qt, GetParam().reason);
  EXPECT_EQ(error.domain, NSURLErrorDomain);
  EXPECT_EQ(error.code, GetParam().code);
  EXPECT_FALSE(error.description.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Table, QtErrorMapping,
    testing::Values(Mapping{QNetworkReply::ConnectionRefusedError, EndReason::Finished, NSURLErrorCannotConnectToHost},
                    Mapping{QNetworkReply::HostNotFoundError, EndReason::Finished, NSURLErrorCannotFindHost},
                    Mapping{QNetworkReply::TimeoutError, EndReason::Finished, NSURLErrorTimedOut},
                    // Qt's transfer time-out aborts the reply; only our own cancel is -999.
                    Mapping{QNetworkReply::OperationCanceledError, EndReason::Finished, NSURLErrorTimedOut},
                    Mapping{QNetworkReply::OperationCanceledError, EndReason::Cancelled, NSURLErrorCancelled},
                    Mapping{QNetworkReply::RemoteHostClosedError, EndReason::Finished, NSURLErrorNetworkConnectionLost},
                    Mapping{QNetworkReply::ContentReSendError, EndReason::Finished, NSURLErrorNetworkConnectionLost},
                    Mapping{QNetworkReply::TemporaryNetworkFailureError, EndReason::Finished,
                            NSURLErrorNetworkConnectionLost},
                    Mapping{QNetworkReply::SslHandshakeFailedError, EndReason::Finished,
                            NSURLErrorSecureConnectionFailed},
                    Mapping{QNetworkReply::SslHandshakeFailedError, EndReason::TlsUntrusted,
                            NSURLErrorServerCertificateUntrusted},
                    Mapping{QNetworkReply::OperationCanceledError, EndReason::Oversize,
                            NSURLErrorDataLengthExceedsMaximum},
                    Mapping{QNetworkReply::ProtocolUnknownError, EndReason::Finished, NSURLErrorUnsupportedURL},
                    Mapping{QNetworkReply::ProtocolFailure, EndReason::Finished, NSURLErrorBadServerResponse},
                    Mapping{QNetworkReply::UnknownNetworkError, EndReason::Finished, NSURLErrorUnknown}));

TEST(QtHttpStatusErrors, OnlyRepliesThatCarryAnHttpAnswerCountAsAnswers) {
  for (QNetworkReply::NetworkError code :
       {QNetworkReply::NoError, QNetworkReply::InternalServerError, QNetworkReply::ContentNotFoundError,
        QNetworkReply::ProtocolInvalidOperationError, QNetworkReply::AuthenticationRequiredError,
        QNetworkReply::ServiceUnavailableError, QNetworkReply::UnknownServerError}) {
    EXPECT_TRUE(kovqt::isHttpStatusError(code)) << code;
  }
  for (QNetworkReply::NetworkError code :
       {QNetworkReply::ContentReSendError, QNetworkReply::RemoteHostClosedError, QNetworkReply::OperationCanceledError,
        QNetworkReply::TimeoutError, QNetworkReply::SslHandshakeFailedError}) {
    EXPECT_FALSE(kovqt::isHttpStatusError(code)) << code;
  }
}

}  // namespace
}  // namespace kovtest
