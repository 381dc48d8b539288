// curl's failures as the URL-layer errors the engine counts, with their exact texts (those
// the session tests meet on the wire are checked there).
#include <gtest/gtest.h>

#include "KOVCurlErrors.h"

namespace kovtest {
namespace {

struct Mapping {
  CURLcode curl;
  int32_t code;
  const char* description;
};

class CurlErrorMapping : public testing::TestWithParam<Mapping> {};

TEST_P(CurlErrorMapping, GivesTheFittingUrlErrorCodeAndText) {
  const KOVError error = kovcurl::urlErrorFor(GetParam().curl);
  EXPECT_EQ(error.domain, NSURLErrorDomain);
  EXPECT_EQ(error.code, GetParam().code);
  EXPECT_EQ(error.description, GetParam().description);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CurlErrorMapping,
    testing::Values(
        Mapping{CURLE_COULDNT_RESOLVE_HOST, NSURLErrorCannotFindHost, "A server with this host name could not be found."},
        Mapping{CURLE_RECV_ERROR, NSURLErrorNetworkConnectionLost, "The network connection was lost."},
        Mapping{CURLE_SSL_CONNECT_ERROR, NSURLErrorSecureConnectionFailed,
                "A secure connection to the server could not be made."},
        Mapping{CURLE_FILESIZE_EXCEEDED, NSURLErrorDataLengthExceedsMaximum, "The answer is larger than the maximum accepted."},
        Mapping{CURLE_UNSUPPORTED_PROTOCOL, NSURLErrorUnsupportedURL, "The URL's scheme is not supported."},
        Mapping{CURLE_WEIRD_SERVER_REPLY, NSURLErrorBadServerResponse, "The server's answer could not be read."},
        Mapping{CURLE_OUT_OF_MEMORY, NSURLErrorUnknown, "The request failed."}));

}  // namespace
}  // namespace kovtest
