// The state request and the parsing of its reply, against a scripted server.
#include "bot/net/state_request.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

#include "tests/support/scripted_server.hpp"

namespace nimbus {
namespace {

using testing::ScriptedConnection;
using testing::ScriptedServer;
using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;

const char* const kStormA = "THUNDERSTORM 1 2 3 4 100\n";
const char* const kStormB = "THUNDERSTORM 5 6 7 8 90\n";
const char* const kStormC = "THUNDERSTORM 9 10 11 12 80\n";
const char* const kRain1 = "RAINCLOUD 13 14 15 16 20\n";
const char* const kRain2 = "RAINCLOUD 17 18 -19.5 20.25 30\n";

std::vector<float> values(const CloudState& c) {
    return {c.x, c.y, c.vx, c.vy, c.mass};
}
std::vector<std::vector<float>> values(const std::list<CloudState>& list) {
    std::vector<std::vector<float>> out;
    for (const auto& c : list)
        out.push_back(values(c));
    return out;
}

// Serves one GET_STATE per reply in order, then waits for "done" from the client.
ScriptedServer::Script replies(std::vector<std::string> texts) {
    return [texts = std::move(texts)](ScriptedConnection& c) {
        for (const auto& text : texts) {
            if (c.readLine() != "GET_STATE")
                return;
            c.send(text);
        }
        c.readLine();
    };
}

struct Session {
    explicit Session(std::vector<std::string> texts)
        : server(replies(std::move(texts))), link((CaptureStdout(), server.portText().c_str())) {
        GetCapturedStdout();
    }
    ~Session() { link.sendText("done\n", 5); }
    ScriptedServer server;
    ServerLink link;
    WorldSnapshot snapshot;
};

TEST(StateRequestTest, FullReplyFillsOwnRivalsAndRainclouds) {
    Session s({std::string("BEGIN_STATE 42\nYOU 1\n") + kStormA + kStormB + kStormC + kRain1 +
               kRain2 + "END_STATE\n"});
    refreshState(s.link, s.snapshot);
    EXPECT_EQ(s.snapshot.tick, 42);
    EXPECT_EQ(values(s.snapshot.own), (std::vector<float>{5, 6, 7, 8, 90}));
    EXPECT_EQ(values(s.snapshot.rivals),
              (std::vector<std::vector<float>>{{1, 2, 3, 4, 100}, {9, 10, 11, 12, 80}}));
    EXPECT_EQ(
        values(s.snapshot.rainclouds),
        (std::vector<std::vector<float>>{{13, 14, 15, 16, 20}, {17, 18, -19.5f, 20.25f, 30}}));
    EXPECT_TRUE(s.link.enabled());
}

TEST(StateRequestTest, CarriageReturnLineEndingsParseTheSame) {
    Session s(
        {"BEGIN_STATE 42\r\nYOU 0\r\nTHUNDERSTORM 1 2 3 4 100\r\nRAINCLOUD 1.5 2 3 4 5\r\n"
         "END_STATE\r\n"});
    refreshState(s.link, s.snapshot);
    EXPECT_EQ(s.snapshot.tick, 42);
    EXPECT_EQ(values(s.snapshot.own), (std::vector<float>{1, 2, 3, 4, 100}));
    EXPECT_EQ(values(s.snapshot.rainclouds), (std::vector<std::vector<float>>{{1.5f, 2, 3, 4, 5}}));
}

TEST(StateRequestTest, YouLineAfterTheStormsMakesThemAllRivals) {
    Session s({std::string("BEGIN_STATE 42\n") + kStormA + kStormB + kStormC + "YOU 1\n" +
               "END_STATE\n"});
    s.snapshot.own = CloudState{100, 200, 0, 0, 50};
    refreshState(s.link, s.snapshot);
    EXPECT_EQ(values(s.snapshot.own), (std::vector<float>{100, 200, 0, 0, 50}));
    EXPECT_EQ(s.snapshot.rivals.size(), 3u);
}

TEST(StateRequestTest, UnknownKeywordsAndBareKeywordsChangeNothing) {
    Session s({std::string("BEGIN_STATE 42\nWEATHER sunny\nYOU\nbegin_state 9\nBEGIN_STATE\n") +
               kStormA + "END_STATE\n"});
    s.snapshot.own = CloudState{100, 200, 0, 0, 50};
    refreshState(s.link, s.snapshot);
    EXPECT_EQ(s.snapshot.tick, 42);  // neither the lower-case line nor the bare one changed it
    // The bare YOU left the index at -1: the storm is a rival and own is unchanged.
    EXPECT_EQ(values(s.snapshot.own), (std::vector<float>{100, 200, 0, 0, 50}));
    EXPECT_EQ(s.snapshot.rivals.size(), 1u);
}

TEST(StateRequestTest, MissingValuesKeepThePreviousLinesValues) {
    Session s(
        {"BEGIN_STATE 1\nRAINCLOUD 1 2 3 4 5\nRAINCLOUD 7 8\nRAINCLOUD 9 x 10\n"
         "THUNDERSTORM\nEND_STATE\n",
         "BEGIN_STATE 2\nRAINCLOUD 6\nEND_STATE\n"});
    refreshState(s.link, s.snapshot);
    EXPECT_EQ(values(s.snapshot.rainclouds),
              (std::vector<std::vector<float>>{{1, 2, 3, 4, 5}, {7, 8, 3, 4, 5}, {9, 8, 3, 4, 5}}));
    EXPECT_EQ(values(s.snapshot.rivals), (std::vector<std::vector<float>>{{9, 8, 3, 4, 5}}));
    // A new request starts from a fresh scratch state: mass 0, the rest zero.
    refreshState(s.link, s.snapshot);
    EXPECT_EQ(values(s.snapshot.rainclouds), (std::vector<std::vector<float>>{{6, 0, 0, 0, 0}}));
}

TEST(StateRequestTest, OutOfRangeTickSaturates) {
    Session s({"BEGIN_STATE 99999999999\nEND_STATE\n", "BEGIN_STATE -99999999999\nEND_STATE\n"});
    refreshState(s.link, s.snapshot);
    EXPECT_EQ(s.snapshot.tick, 2147483647);
    refreshState(s.link, s.snapshot);
    EXPECT_EQ(s.snapshot.tick, -2147483647 - 1);
}

TEST(StateRequestTest, EmptyLineMidReplyIsSkippedAndRepliesStayInStep) {
    Session s({"BEGIN_STATE 1\nYOU 0\n\nTHUNDERSTORM 1 2 3 4 100\nRAINCLOUD 5 6 7 8 9\nEND_STATE\n",
               "\nBEGIN_STATE 2\nYOU 0\nTHUNDERSTORM 2 2 3 4 100\nEND_STATE\n"});
    refreshState(s.link, s.snapshot);
    EXPECT_EQ(s.snapshot.tick, 1);
    EXPECT_EQ(s.snapshot.own.x, 1.0f);
    EXPECT_EQ(s.snapshot.rainclouds.size(), 1u);
    refreshState(s.link, s.snapshot);
    EXPECT_EQ(s.snapshot.tick, 2);
    EXPECT_EQ(s.snapshot.own.x, 2.0f);
    EXPECT_TRUE(s.snapshot.rainclouds.empty());
}

TEST(StateRequestTest, LineOfExactlyTheLimitIsCutAndTheRequestGoesOn) {
    std::string longLine = "RAINCLOUD 1 2 3 4 5 ";
    longLine.resize(1025, '0');
    ASSERT_EQ(longLine.size(), 1025u);
    Session s({"BEGIN_STATE 3\n" + longLine + "\nRAINCLOUD 6 7 8 9 10\nEND_STATE\n",
               "BEGIN_STATE 4\nEND_STATE\n"});
    refreshState(s.link, s.snapshot);
    EXPECT_EQ(values(s.snapshot.rainclouds),
              (std::vector<std::vector<float>>{{1, 2, 3, 4, 5}, {6, 7, 8, 9, 10}}));
    refreshState(s.link, s.snapshot);
    EXPECT_EQ(s.snapshot.tick, 4);
}

TEST(StateRequestTest, LeftoverOfALongNameReplyIsSkippedByTheFirstRequest) {
    ScriptedServer server([](ScriptedConnection& c) {
        c.readLine();
        c.send(std::string(64, 'n') + "123456\n");
        c.readLine();
        c.send("BEGIN_STATE 5\nYOU 0\nTHUNDERSTORM 1 2 3 4 50\nEND_STATE\n");
        c.readLine();
    });
    CaptureStdout();
    ServerLink link(server.portText().c_str());
    link.announceName();
    WorldSnapshot snapshot;
    refreshState(link, snapshot);
    GetCapturedStdout();
    EXPECT_EQ(snapshot.tick, 5);
    EXPECT_EQ(snapshot.own.mass, 50.0f);
    link.sendText("done\n", 5);
}

TEST(StateRequestTest, ConnectionClosedMidReplyKeepsWhatWasParsed) {
    ScriptedServer server([](ScriptedConnection& c) {
        c.readLine();
        c.send("BEGIN_STATE 7\nTHUNDERSTORM 1 2 3 4 100\n");
        c.close();
    });
    CaptureStdout();
    ServerLink link(server.portText().c_str());
    WorldSnapshot snapshot;
    snapshot.rainclouds.push_back(CloudState{});
    refreshState(link, snapshot);
    EXPECT_EQ(GetCapturedStdout(),
              "socket up and running\nconnection closed while waiting for data\n");
    EXPECT_EQ(snapshot.tick, 7);
    EXPECT_EQ(values(snapshot.rivals), (std::vector<std::vector<float>>{{1, 2, 3, 4, 100}}));
    EXPECT_TRUE(snapshot.rainclouds.empty());
    EXPECT_FALSE(link.enabled());
    EXPECT_EQ(server.received(), "GET_STATE\n");

    // On the disabled link a refresh only empties the lists.
    CaptureStdout();
    refreshState(link, snapshot);
    EXPECT_EQ(GetCapturedStdout(), "");
    EXPECT_TRUE(snapshot.rivals.empty());
    EXPECT_EQ(snapshot.tick, 7);
}

}  // namespace
}  // namespace nimbus
