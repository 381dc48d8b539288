// kov-bridge's decisions, each a pure function: its settings, who may ask (token, Host,
// CORS), which operation a request names, what a body says, and the text of the metrics.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <variant>

#include "BridgeGuard.h"
#include "BridgeMetrics.h"
#include "BridgeOptions.h"
#include "BridgeRequest.h"
#include "BridgeRouter.h"
#include "BridgeSecrets.h"
#include "BridgeTill.h"

using namespace kovbridge;

namespace {

struct OptionsRow {
  const char* name;
  const char* config;  // the --config file's text, or nullptr for no file
  std::vector<std::string> args;
  const char* read;    // the settings read, or the refusal's text
};

std::string described(const std::variant<BridgeOptions, BridgeUsageError>& parsed) {
  if (const auto* error = std::get_if<BridgeUsageError>(&parsed)) return error->message;
  const BridgeOptions& o = std::get<BridgeOptions>(parsed);
  std::string origins;
  for (const std::string& origin : o.allowOrigins) origins += " " + origin;
  return o.user.value_or("-") + " " + o.station.value_or("-") + " " + o.endpoint.value_or("-") + " " +
         o.listen.host + ":" + std::to_string(o.listen.port) + " " + o.keyFile.value_or("-") + " " +
         o.tlsCert.value_or("-") + " " + o.tlsKey.value_or("-") + origins;
}

class Options : public testing::TestWithParam<OptionsRow> {};

TEST_P(Options, AreReadFromTheCommandLineOrAFile) {
  const OptionsRow& row = GetParam();
  std::vector<std::string> args = row.args;
  const std::string file = testing::TempDir() + "kov-bridge-" + row.name + ".conf";
  if (row.config) {
    std::ofstream(file) << row.config;
    args.insert(args.begin(), {"--config", file});
  }
  EXPECT_EQ(described(parseBridgeOptions(args)), row.read);
  std::remove(file.c_str());
}

constexpr const char* kConfig =
    "endpoint = \"http://127.0.0.1:9/wqmi3/pos.aspx\"\nlisten = \"127.0.0.1:0\"\nuser = \"merchant\"\n"
    "station = \"ST-9\"\nkey-file = \"/etc/kov/key\"\nallow-origin = [\"http://a.example\", \"http://b.example\"]\n";

INSTANTIATE_TEST_SUITE_P(
    Settings, Options,
    testing::Values(
        OptionsRow{"ConfigFile", kConfig, {},
                   "merchant ST-9 http://127.0.0.1:9/wqmi3/pos.aspx 127.0.0.1:0 /etc/kov/key - - http://a.example "
                   "http://b.example"},
        OptionsRow{"CommandLineOverConfigFile", kConfig, {"--station", "ST-1"},
                   "merchant ST-1 http://127.0.0.1:9/wqmi3/pos.aspx 127.0.0.1:0 /etc/kov/key - - http://a.example "
                   "http://b.example"},
        OptionsRow{"BeyondLoopbackWithoutTls", nullptr, {"--user", "u", "--station", "s", "--listen", "192.0.2.7:8443"},
                   "refusing to listen on 192.0.2.7, which is not a loopback address, without TLS: give --tls-cert and "
                   "--tls-key"},
        OptionsRow{"BeyondLoopbackWithTls", nullptr,
                   {"--user", "u", "--station", "s", "--listen", "[2001:db8::7]:8443", "--tls-cert", "c.pem",
                    "--tls-key", "k.pem"},
                   "u s - 2001:db8::7:8443 - c.pem k.pem"},
        OptionsRow{"CertificateWithoutKey", nullptr, {"--user", "u", "--station", "s", "--tls-cert", "c.pem"},
                   "--tls-cert and --tls-key go together"}),
    [](const auto& info) { return std::string(info.param.name); });

constexpr const char* kToken = "0123456789abcdef";
constexpr const char* kPage = "https://till.example";

struct GuardRow {
  const char* name;
  const char* method;
  const char* host;           // nullptr: no Host header
  const char* origin;         // nullptr: none
  const char* authorization;  // nullptr: none
  bool preflight;
  bool open;
  int status;                 // 0: served
  const char* headers;        // every header of the verdict, "name: value;" each
};

std::string headers(const BridgeVerdict& verdict) {
  std::string all;
  for (const auto& [name, value] : verdict.headers) all += name + ": " + value + ";";
  return all;
}

class Guard : public testing::TestWithParam<GuardRow> {};

TEST_P(Guard, DecidesWhoMayAsk) {
  const GuardRow& row = GetParam();
  const BridgeGuard guard(kToken, {kPage}, {"till-7.shop.lan"});
  const auto text = [](const char* value) { return value ? std::optional<std::string_view>(value) : std::nullopt; };
  const BridgeVerdict verdict = guard.check({.method = row.method,
                                             .host = text(row.host),
                                             .origin = text(row.origin),
                                             .authorization = text(row.authorization),
                                             .preflight = row.preflight,
                                             .open = row.open});
  EXPECT_EQ(verdict.status, row.status);
  EXPECT_EQ(headers(verdict), row.headers);
}

INSTANTIATE_TEST_SUITE_P(
    Requests, Guard,
    testing::Values(
        GuardRow{"BearerInAnyCase", "GET", "localhost", nullptr, "bearer 0123456789abcdef", false, false, 0,
                 "Vary: Origin;"},
        GuardRow{"Ipv6Loopback", "GET", "[::1]:8787", nullptr, "Bearer 0123456789abcdef", false, false, 0,
                 "Vary: Origin;"},
        GuardRow{"ListedHostInCapitals", "GET", "TILL-7.shop.lan:8443", nullptr, "Bearer 0123456789abcdef", false,
                 false, 0, "Vary: Origin;"},
        GuardRow{"WrongToken", "GET", "127.0.0.1", nullptr, "Bearer 0123456789abcdeX", false, false, 401,
                 "Vary: Origin;WWW-Authenticate: Bearer;"},
        GuardRow{"TokenWithATail", "GET", "127.0.0.1", nullptr, "Bearer 0123456789abcdef0", false, false, 401,
                 "Vary: Origin;WWW-Authenticate: Bearer;"},
        GuardRow{"BasicInsteadOfBearer", "GET", "127.0.0.1", nullptr, "Basic 0123456789abcdef", false, false, 401,
                 "Vary: Origin;WWW-Authenticate: Bearer;"},
        GuardRow{"LoopbackAsAPrefix", "GET", "127.0.0.1.evil.example", nullptr, nullptr, false, true, 403,
                 "Vary: Origin;"},
        GuardRow{"NoHost", "GET", nullptr, nullptr, "Bearer 0123456789abcdef", false, false, 403, "Vary: Origin;"},
        GuardRow{"ListedOrigin", "POST", "127.0.0.1", kPage, "Bearer 0123456789abcdef", false, false, 0,
                 "Vary: Origin;Access-Control-Allow-Origin: https://till.example;"},
        GuardRow{"OtherOrigin", "POST", "127.0.0.1", "https://evil.example", "Bearer 0123456789abcdef", false, false,
                 0, "Vary: Origin;"},
        GuardRow{"PreflightOfListedOrigin", "OPTIONS", "127.0.0.1", kPage, nullptr, true, false, 204,
                 "Vary: Origin;Access-Control-Allow-Origin: https://till.example;Access-Control-Allow-Methods: GET, "
                 "POST;Access-Control-Allow-Headers: Authorization, Content-Type;Access-Control-Max-Age: 600;"},
        GuardRow{"PreflightOfOtherOrigin", "OPTIONS", "127.0.0.1", "https://evil.example", nullptr, true, false, 204,
                 "Vary: Origin;"},
        GuardRow{"OptionsThatIsNoPreflight", "OPTIONS", "127.0.0.1", kPage, nullptr, false, false, 401,
                 "Vary: Origin;Access-Control-Allow-Origin: https://till.example;WWW-Authenticate: Bearer;"}),
    [](const auto& info) { return std::string(info.param.name); });

struct RouteRow {
  const char* name;
  const char* method;
  const char* target;
  bool serving;
  BridgeRoute route;
  const char* txnRef;  // or the served file's path
};

class Routes : public testing::TestWithParam<RouteRow> {};

TEST_P(Routes, NameTheOperation) {
  const RouteRow& row = GetParam();
  const BridgeTarget target = routeOf(row.method, row.target, row.serving);
  EXPECT_EQ(target.route, row.route);
  EXPECT_EQ(target.route == BridgeRoute::Static ? target.filePath : target.txnRef, row.txnRef);
}

INSTANTIATE_TEST_SUITE_P(
    Targets, Routes,
    testing::Values(RouteRow{"MetricsWithAQuery", "GET", "/metrics?x=1", false, BridgeRoute::Metrics, ""},
                    RouteRow{"StartByGet", "GET", "/v1/transactions", false, BridgeRoute::MethodNotAllowed, ""},
                    RouteRow{"EncodedReference", "POST", "/v1/transactions/A%2FB%20c/press", false, BridgeRoute::Press,
                             "A/B c"},
                    RouteRow{"EscapesOfEveryDigitRange", "POST", "/v1/transactions/T%2a%39%3A%2F/cancel", false,
                             BridgeRoute::Cancel, "T*9:/"},
                    RouteRow{"PressByGet", "GET", "/v1/transactions/T-1/press", false, BridgeRoute::MethodNotAllowed,
                             "T-1"},
                    RouteRow{"BadEscape", "GET", "/v1/transactions/T%2/events", false, BridgeRoute::NotFound, ""},
                    RouteRow{"EncodedNul", "GET", "/v1/transactions/T%00/events", false, BridgeRoute::NotFound, ""},
                    RouteRow{"EmptyReference", "GET", "/v1/transactions//events", false, BridgeRoute::NotFound, ""},
                    RouteRow{"UnknownAction", "POST", "/v1/transactions/T-1/refund", false, BridgeRoute::NotFound, ""},
                    RouteRow{"PageWithoutFolder", "GET", "/index.html", false, BridgeRoute::NotFound, ""},
                    RouteRow{"PageFromFolder", "GET", "/app/till%20page.js", true, BridgeRoute::Static,
                             "/app/till page.js"},
                    RouteRow{"PagePosted", "POST", "/index.html", true, BridgeRoute::MethodNotAllowed, ""},
                    RouteRow{"UnknownApiIsNoFile", "GET", "/v1/other", true, BridgeRoute::NotFound, ""}),
    [](const auto& info) { return std::string(info.param.name); });

struct BodyRow {
  const char* name;
  const char* body;
  const char* read;  // what was read, or the refusal's text
};

std::string described(const std::variant<BridgeStart, BridgeBodyError>& parsed) {
  if (const auto* error = std::get_if<BridgeBodyError>(&parsed)) return error->message;
  const BridgeStart& s = std::get<BridgeStart>(parsed);
  const auto text = [](const std::optional<std::string>& value) { return value ? *value : std::string("-"); };
  return std::to_string(s.type) + " " + text(s.details.txnRef) + " " +
         (s.details.amount ? s.details.amount->toString() : "-") + " " + text(s.details.currencyCode) + " " +
         text(s.details.merchantRef) + " " + text(s.details.userName) + (s.details.skipSignatureVerification ? " skip" : "");
}

class StartBodies : public testing::TestWithParam<BodyRow> {};

TEST_P(StartBodies, AreReadStrictly) { EXPECT_EQ(described(parseStart(GetParam().body)), GetParam().read); }

INSTANTIATE_TEST_SUITE_P(
    Bodies, StartBodies,
    testing::Values(
        BodyRow{"Purchase", R"({"type":"purchase","txnRef":"T-1","amount":"12.50","currency":"AUD"})",
                "0 T-1 12.5 AUD - -"},
        BodyRow{"RefundWithOptionalFields",
                R"({"type":"refund","txnRef":"T-2","amount":"1","currency":"NZD","merchantRef":"","skipSignature":true})",
                "3 T-2 1 NZD  - skip"},
        BodyRow{"KeyIsNotThePagesToGive", R"({"type":"purchase","txnRef":"T-1","key":"k"})", "unknown field \"key\""},
        BodyRow{"AmountAsNumber", R"({"type":"purchase","txnRef":"T-1","amount":12.5})",
                "field \"amount\" must be a string"},
        BodyRow{"SkipAsText", R"({"type":"purchase","txnRef":"T-1","skipSignature":"yes"})",
                "field \"skipSignature\" must be true or false"},
        BodyRow{"DuplicateKey", R"({"type":"purchase","txnRef":"T-1","txnRef":"T-2"})",
                "field \"txnRef\" is given twice"},
        BodyRow{"AmountInWords", R"({"type":"purchase","txnRef":"T-1","amount":"ten"})",
                "amount must be a plain decimal number such as \"12.50\", not \"ten\""},
        BodyRow{"UnknownType", R"({"type":"payout","txnRef":"T-1"})",
                "unknown type \"payout\" (purchase, auth, complete, refund or void)"},
        BodyRow{"NoType", R"({"txnRef":"T-1"})", "missing field \"type\""},
        BodyRow{"NoReference", R"({"type":"void"})", "missing field \"txnRef\""},
        BodyRow{"NotJson", R"({"type":"purchase",)", "the body is not valid JSON"},
        BodyRow{"Array", R"(["purchase"])", "the body is not a JSON object"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(OtherBodies, AreReadStrictly) {
  const auto button = [](const char* body) {
    const auto parsed = parseButton(body);
    return std::holds_alternative<std::string>(parsed) ? std::get<std::string>(parsed)
                                                       : std::get<BridgeBodyError>(parsed).message;
  };
  EXPECT_EQ(button(R"({"button":"B2"})"), "B2");
  EXPECT_EQ(button(R"({"button":"B3"})"), "button must be \"B1\" or \"B2\"");
  EXPECT_EQ(button(R"({"button":"B1","label":"YES"})"), "unknown field \"label\"");
  const auto recover = [](const char* body) {
    const auto parsed = parseRecover(body);
    if (const auto* error = std::get_if<BridgeBodyError>(&parsed)) return error->message;
    const BridgeRecoverBody& read = std::get<BridgeRecoverBody>(parsed);
    return read.txnRef.value_or("-") + (read.skipSignature ? " skip" : "");
  };
  EXPECT_EQ(recover(""), "-");
  EXPECT_EQ(recover(R"({"txnRef":"T-9","skipSignature":true})"), "T-9 skip");
  EXPECT_EQ(recover(R"({"station":"ST-2"})"), "unknown field \"station\"");
}

TEST(Metrics, AreThePrometheusTextOfTheCounts) {
  BridgeMetrics metrics;
  metrics.countTransaction(KOVTransactionTypePurchase, KOVTransactionResultSucceeded);
  metrics.countTransaction(KOVTransactionTypePurchase, KOVTransactionResultSucceeded);
  metrics.countTransaction(std::nullopt, KOVTransactionResultTimeout);
  metrics.countPollFailure();
  metrics.observeRoundTrip(0.004);
  metrics.observeRoundTrip(0.3);
  EXPECT_EQ(metrics.render(2),
            "# HELP kov_transactions_total Transactions ended, by type and result.\n"
            "# TYPE kov_transactions_total counter\n"
            "kov_transactions_total{type=\"purchase\",result=\"approved\"} 2\n"
            "kov_transactions_total{type=\"recover\",result=\"timeout\"} 1\n"
            "# HELP kov_poll_failures_total Requests to the service that failed (no answer, or an HTTP error).\n"
            "# TYPE kov_poll_failures_total counter\n"
            "kov_poll_failures_total 1\n"
            "# HELP kov_poll_duration_seconds Time from a request to the service to its answer.\n"
            "# TYPE kov_poll_duration_seconds histogram\n"
            "kov_poll_duration_seconds_bucket{le=\"0.005\"} 1\n"
            "kov_poll_duration_seconds_bucket{le=\"0.01\"} 1\n"
            "kov_poll_duration_seconds_bucket{le=\"0.025\"} 1\n"
            "kov_poll_duration_seconds_bucket{le=\"0.05\"} 1\n"
            "kov_poll_duration_seconds_bucket{le=\"0.1\"} 1\n"
            "kov_poll_duration_seconds_bucket{le=\"0.25\"} 1\n"
            "kov_poll_duration_seconds_bucket{le=\"0.5\"} 2\n"
            "kov_poll_duration_seconds_bucket{le=\"1\"} 2\n"
            "kov_poll_duration_seconds_bucket{le=\"2.5\"} 2\n"
            "kov_poll_duration_seconds_bucket{le=\"5\"} 2\n"
            "kov_poll_duration_seconds_bucket{le=\"10\"} 2\n"
            "kov_poll_duration_seconds_bucket{le=\"60\"} 2\n"
            "kov_poll_duration_seconds_bucket{le=\"+Inf\"} 2\n"
            "kov_poll_duration_seconds_sum 0.304\n"
            "kov_poll_duration_seconds_count 2\n"
            "# HELP kov_pending_transactions Transactions the journal holds unfinished.\n"
            "# TYPE kov_pending_transactions gauge\n"
            "kov_pending_transactions 2\n");
}

// The page's token file: made when missing (mode 0600, the same token read back after), refused
// when others may read it, and given to the folder's owner when root makes it in another user's
// folder (an installer's --print-token), so that the service can read it.
struct TokenRow {
  const char* name;
  int existingMode;  // a file already there with this mode, or 0 for none
  uid_t folderOwner;
  const char* refusal;  // the refusal with PATH for the file's path, or nullptr
};

void PrintTo(const TokenRow& row, std::ostream* out) { *out << row.name; }

class TokenFile : public testing::TestWithParam<TokenRow> {};

TEST_P(TokenFile, IsMadeOnceOnlyItsOwnersAndTheFoldersOwners) {
  const TokenRow& row = GetParam();
  if (row.folderOwner != 0 && ::geteuid() != 0) GTEST_SKIP() << "only root makes a file for another user";
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("kov-token-" + std::to_string(::getpid()) + "-" + row.name);
  std::filesystem::create_directory(folder);
  const std::string path = (folder / "token").string();
  if (row.folderOwner != ::geteuid()) {
    ASSERT_EQ(::chown(folder.c_str(), row.folderOwner, row.folderOwner), 0);
  }
  if (row.existingMode) {
    std::ofstream(path) << "a-token\n";
    ::chmod(path.c_str(), static_cast<mode_t>(row.existingMode));
  }
  const auto first = loadToken(path);
  if (row.refusal) {
    std::string expected = row.refusal;
    expected.replace(expected.find("PATH"), 4, path);
    EXPECT_EQ(std::get<BridgeSecretError>(first).message, expected);
  } else {
    const std::string token = std::get<std::string>(first);
    EXPECT_EQ(token.size(), row.existingMode ? 7U : 64U);
    EXPECT_EQ(std::get<std::string>(loadToken(path)), token);
    struct stat status{};
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0600U);
    EXPECT_EQ(status.st_uid, row.existingMode ? ::geteuid() : row.folderOwner);
  }
  std::filesystem::remove_all(folder);
}

INSTANTIATE_TEST_SUITE_P(
    Secrets, TokenFile,
    testing::Values(TokenRow{"MadeWhenMissing", 0, ::geteuid(), nullptr},
                    TokenRow{"KeptWhenThere", 0600, ::geteuid(), nullptr},
                    TokenRow{"RefusedWhenOthersMayReadIt", 0640, ::geteuid(),
                             "--token-file PATH may be read or written by others (mode 0640): chmod 600 it"},
                    TokenRow{"GivenToTheFoldersOwnerWhenRootMakesIt", 0, 65534, nullptr}),
    [](const testing::TestParamInfo<TokenRow>& info) { return std::string(info.param.name); });

}  // namespace
