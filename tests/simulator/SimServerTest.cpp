// The service's answers and refusals, and the server's port (what each fault puts on the wire
// is met by the client in the transport and fault tables).
#include <gtest/gtest.h>


#include "SimServer.h"

using namespace kovsim;

namespace {

std::string request(const std::string& type, const std::string& txnRef, const std::string& station = "ST1",
                    const std::string& more = "", const std::string& key = "s3cret") {
  return "<Scr action=\"doScrKOV\" user=\"merchant\" key=\"" + key + "\"><TxnRef>" + txnRef + "</TxnRef><Station>" +
         station + "</Station><TxnType>" + type + "</TxnType><Amount>12.50</Amount><Cur>AUD</Cur>" + more + "</Scr>";
}

SimConfig slowConfig() {
  SimConfig config;
  config.port = 0;
  config.speed = 0.01;  // the first screen stays for minutes
  config.tmoSeconds = 1;
  config.holdMs = 50;
  config.stations = {"ST1", "ST2", "ST-OFF"};
  config.offline = {"ST-OFF"};
  return config;
}

std::string refused(const std::string& code, const std::string& text) {
  return "<Scr><Complete>1</Complete><DL1>ERROR</DL1><DL2>" + text + "</DL2><Result><AP>0</AP><RC>" + code +
         "</RC><RT>" + text + "</RT></Result></Scr>";
}

// The service's reply to a request it answers at once.
SimReply answer(SimService& service, const std::string& body) {
  SimReply reply;
  service.handle(body, [&reply](SimReply given) { reply = std::move(given); });
  return reply;
}

TEST(SimService, StartsATransactionOnceAndRefusesWhatItCannotServe) {
  SimService service(slowConfig());
  const std::string screen = "<Scr><Complete>0</Complete><DL1>PRESENT/INSERT CARD</DL1><DL2>PURCHASE       AUD "
                             "12.50</DL2><B1 en=\"1\">CANCEL</B1><B2 en=\"0\"></B2><Tmo>1</Tmo></Scr>";
  const SimReply first = answer(service, request("Purchase", "T1", "ST1", "<MRef>sim:nope</MRef>"));
  EXPECT_EQ(first.summary + first.body,
            "started (approve, unknown scenario \"sim:nope\"), screen \"PRESENT/INSERT CARD\"" + screen);
  EXPECT_EQ(answer(service, request("Purchase", "T1", "ST2")).summary, "repeated, screen \"PRESENT/INSERT CARD\"");
  for (const auto& [body, expected] : std::vector<std::pair<std::string, std::string>>{
           {request("Purchase", "T2"), refused("pc", "TERMINAL BUSY")},
           {request("Purchase", "T2", "ST2", "", "nope"), refused("p8", "INVALID USER OR KEY")},
           {request("Status", "T1", "ST1", "", ""), refused("p8", "INVALID USER OR KEY")},
           {request("Sale", "T2", "ST2"), refused("p7", "INVALID TRANSACTION TYPE")},
           {request("Purchase", "T2", "ST9"), refused("p9", "INVALID STATION")},
           {request("Purchase", "T2", ""), refused("p9", "INVALID STATION")},
           {request("Purchase", "", "ST2"), refused("pd", "MISSING TXNREF")},
           {request("Purchase", "T2", "ST-OFF"), refused("tq", "TERMINAL NOT CONNECTED")},
           {request("Status", "T-never"), refused("pn", "TRANSACTION NOT FOUND")},
           {request("UI", "T1", "ST2"), refused("pn", "TRANSACTION NOT FOUND")}}) {
    EXPECT_EQ(answer(service, body).body, expected) << body;
  }
  for (const char* bad : {"not xml", "<Other/>", "<Scr action=\"other\" user=\"merchant\" key=\"s3cret\"/>",
                          "<!DOCTYPE Scr><Scr action=\"doScrKOV\" user=\"merchant\" key=\"s3cret\"/>"})
    EXPECT_EQ(answer(service, bad).status, 400) << bad;
  // Once the card screen is cancelled, the station takes the next transaction.
  EXPECT_EQ(answer(service, request("UI", "T1", "", "<UiType>Bn</UiType><Name>B1</Name>")).summary,
            "pressed B1 \"\", result AP=0 RC=TC \"CANCELLED\"");
  EXPECT_EQ(answer(service, request("Purchase", "T2")).summary.substr(0, 18), "started (approve),");
}

// Nothing waits: a held status request is answered by the press that changes its screen, by
// a wake at its hold limit, or by the shutdown, and then no request is held any more.
TEST(SimService, HeldStatusRequestsAreAnsweredByAPressTheClockOrTheShutdown) {
  SimConfig config = slowConfig();
  config.holdMs = 60000;
  SimService service(config);
  std::vector<std::string> answers;
  const auto keep = [&answers](SimReply reply) { answers.push_back(reply.txnRef + " " + reply.summary); };
  service.handle(request("Purchase", "T1"), keep);
  service.handle(request("Purchase", "T2", "ST2"), keep);
  service.handle(request("Status", "T1"), keep);
  service.handle(request("Status", "T2", "ST2"), keep);
  EXPECT_EQ(answers.size(), 2u);
  EXPECT_TRUE(service.waitForHeldStatus("T1", 1, std::chrono::milliseconds(0)));
  service.handle(request("UI", "T1", "ST1", "<UiType>Bn</UiType><Name>B1</Name>"), keep);
  const std::optional<SimService::Clock::time_point> limit = service.nextWake();
  ASSERT_TRUE(limit);
  service.wake(*limit - std::chrono::milliseconds(1));
  service.handle(request("Status", "T1"), keep);  // finished: at once
  service.wake(*limit);
  service.handle(request("Status", "T2", "ST2"), keep);
  service.shutdown();
  service.handle(request("Status", "T2", "ST2"), keep);
  EXPECT_FALSE(service.nextWake());
  const std::string card = " screen \"PRESENT/INSERT CARD\"", cancelled = " result AP=0 RC=TC \"CANCELLED\"";
  EXPECT_EQ(answers, (std::vector<std::string>{"T1 started (approve)," + card, "T2 started (approve)," + card,
                                               "T1 pressed B1 \"\"," + cancelled, "T1" + cancelled, "T1" + cancelled,
                                               "T2" + card, "T2" + card, "T2" + card}));
}

TEST(SimServer, APortInUseIsRefused) {
  SimServer first(slowConfig(), nullptr);
  std::string error;
  ASSERT_TRUE(first.start(error)) << error;
  SimConfig same = slowConfig();
  same.port = first.port();
  SimServer again(same, nullptr);
  EXPECT_FALSE(again.start(error));
  EXPECT_EQ(error, "cannot listen on 127.0.0.1:" + std::to_string(first.port()));
}

}  // namespace
