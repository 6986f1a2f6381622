// The line transport and the NAME handshake against a scripted server.
#include "bot/net/server_link.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>

#include "tests/support/scripted_server.hpp"

namespace nimbus {
namespace {

using ::testing::HasSubstr;
using testing::ScriptedConnection;
using testing::ScriptedServer;
using ::testing::StartsWith;
using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;

std::string readLine(ServerLink& link, std::int32_t limit, std::int32_t* count = nullptr) {
    std::string buffer(static_cast<size_t>(limit) + 1, 'x');
    const std::int32_t n = link.receiveLine(buffer.data(), limit);
    if (count != nullptr)
        *count = n;
    buffer[static_cast<size_t>(n)] = '\0';
    return std::string(buffer.c_str());
}

TEST(ServerLinkTest, ConnectsAndPrintsOutcome) {
    ScriptedServer server([](ScriptedConnection& c) { c.readLine(); });
    CaptureStdout();
    {
        ServerLink link(server.portText().c_str());
        EXPECT_TRUE(link.enabled());
        link.sendText("bye\n", 4);
    }
    EXPECT_EQ(GetCapturedStdout(), "socket up and running\n");
    server.join();
    EXPECT_EQ(server.received(), "bye\n");
}

TEST(ServerLinkTest, RefusedConnectionPrintsThePlatformsErrorAndDisables) {
    std::uint16_t freePort = 0;
    const testing::SocketHandle bound = testing::bindWithoutListening(freePort);
    ASSERT_NE(bound, testing::kNoSocket);

    CaptureStdout();
    ServerLink link(std::to_string(freePort).c_str());
    EXPECT_EQ(GetCapturedStdout(), "could not connect socket: " +
                                       std::to_string(testing::kConnectionRefused) + "\n");
    EXPECT_EQ(link.handle, -1);
    // A disabled link ignores sends and reads at once, silently.
    CaptureStdout();
    link.sendText("GET_STATE\n", 10);
    std::int32_t count = -1;
    char buffer[8] = "keep";
    count = link.receiveLine(buffer, 7);
    EXPECT_EQ(count, 0);
    EXPECT_STREQ(buffer, "keep");
    EXPECT_EQ(GetCapturedStdout(), "");
    platform::closeSocket(bound);
}

TEST(ServerLinkTest, UnresolvableServiceReportsResolverError) {
    CaptureStdout();
    ServerLink link("no-such-service-name");
    EXPECT_THAT(GetCapturedStdout(), StartsWith("getaddrinfo failed: "));
    EXPECT_FALSE(link.enabled());
}

// Sends bytes, then waits for the client's last line.
ScriptedServer::Script sendThenWait(std::string bytes) {
    return [bytes = std::move(bytes)](ScriptedConnection& c) {
        c.send(bytes);
        c.readLine();
    };
}

TEST(ServerLinkTest, LineEndingsAndCarriageReturns) {
    ScriptedServer server(sendThenWait("one\r\ntw\ro\n\nthree\n\r\r\n"));
    ServerLink link(server.portText().c_str());
    std::int32_t count = -1;
    EXPECT_EQ(readLine(link, 1025, &count), "one");
    EXPECT_EQ(count, 3);
    EXPECT_EQ(readLine(link, 1025, &count), "two");  // a CR inside a line joins its sides
    EXPECT_EQ(count, 3);
    EXPECT_EQ(readLine(link, 1025, &count), "");  // a lone LF
    EXPECT_EQ(count, 0);
    EXPECT_EQ(readLine(link, 1025, &count), "three");
    EXPECT_EQ(readLine(link, 1025, &count), "");  // only carriage returns
    EXPECT_EQ(count, 0);
    EXPECT_TRUE(link.enabled());
    link.sendText("done\n", 5);
}

TEST(ServerLinkTest, LongLineIsCutAtTheLimitAndTheRestReadLater) {
    ScriptedServer server(sendThenWait("abcdefghij\n"));
    ServerLink link(server.portText().c_str());
    std::int32_t count = -1;
    EXPECT_EQ(readLine(link, 4, &count), "abcd");
    EXPECT_EQ(count, 4);
    EXPECT_EQ(readLine(link, 4), "efgh");
    EXPECT_EQ(readLine(link, 4, &count), "ij");
    EXPECT_EQ(count, 2);
    link.sendText("done\n", 5);
}

TEST(ServerLinkTest, HandshakeSendsNameAndPrintsReply) {
    ScriptedServer server([](ScriptedConnection& c) {
        if (c.readLine() == "NAME Varnolt")
            c.send("WELCOME Varnolt\r\n");
    });
    CaptureStdout();
    ServerLink link(server.portText().c_str());
    link.announceName();
    server.join();
    EXPECT_EQ(GetCapturedStdout(),
              "socket up and running\nsending NAME\nrecieved WELCOME Varnolt\n");
    EXPECT_EQ(server.received(), "NAME Varnolt\n");
}

TEST(ServerLinkTest, SeventyCharacterNameReplyPrintsSixtyFour) {
    const std::string reply(64, 'a');
    ScriptedServer server([&](ScriptedConnection& c) {
        c.readLine();
        c.send(reply + "bcdefg\n");
        c.readLine();
    });
    ServerLink link(server.portText().c_str());
    CaptureStdout();
    link.announceName();
    EXPECT_EQ(GetCapturedStdout(), "sending NAME\nrecieved " + reply + "\n");
    EXPECT_EQ(readLine(link, 64), "bcdefg");
    link.sendText("done\n", 5);
}

TEST(ServerLinkTest, ServerClosingAtOnceDisablesTheLinkInTheHandshake) {
    ScriptedServer server([](ScriptedConnection& c) { c.close(); });
    CaptureStdout();
    ServerLink link(server.portText().c_str());
    server.join();
    link.announceName();
    EXPECT_EQ(GetCapturedStdout(),
              "socket up and running\nsending NAME\n"
              "connection closed while waiting for data\nrecieved \n");
    EXPECT_EQ(link.handle, -1);
}

// Reads the client's first line, then resets the connection.
void resetAfterFirstLine(ScriptedConnection& c) {
    c.readLine();
    c.reset();
}

TEST(ServerLinkTest, ResetConnectionFailsTheReadWithItsError) {
    if (!testing::resetsReachThePeer())
        GTEST_SKIP() << "this platform's test server cannot reset a connection";
    ScriptedServer server(resetAfterFirstLine);
    ServerLink link(server.portText().c_str());
    link.sendText("x\n", 2);
    server.join();
    CaptureStdout();
    EXPECT_EQ(readLine(link, 64), "");
    EXPECT_EQ(GetCapturedStdout(), "socket recv failed: " +
                                       std::to_string(testing::kConnectionReset) +
                                       ", disabling socket\n");
    EXPECT_FALSE(link.enabled());
}

TEST(ServerLinkTest, FailedSendDisablesWithoutSigpipeAndLaterReadIsSilent) {
    ScriptedServer server(resetAfterFirstLine);
    ServerLink link(server.portText().c_str());
    link.sendText("x\n", 2);
    server.join();
    CaptureStdout();
    // The peer is gone: a send must fail through the link, not end the process with SIGPIPE.
    for (int i = 0; i < 50 && link.enabled(); ++i) {
        link.sendText("GET_STATE\n", 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const std::string failure = GetCapturedStdout();
    EXPECT_THAT(failure, StartsWith("socket send failed: "));
    EXPECT_THAT(failure, HasSubstr(", disabling socket\n"));
    EXPECT_FALSE(link.enabled());

    CaptureStdout();
    link.announceName();
    EXPECT_EQ(GetCapturedStdout(), "sending NAME\nrecieved \n");
}

TEST(ServerLinkTest, LinkDisabledBySendReadsNothingOfWhatItHadReceived) {
    ScriptedServer server([](ScriptedConnection& c) {
        c.send("one\ntwo\n");
        c.readLine();
        c.reset();
    });
    ServerLink link(server.portText().c_str());
    EXPECT_EQ(readLine(link, 64), "one");  // "two" has arrived too
    link.sendText("x\n", 2);
    server.join();
    CaptureStdout();
    for (int i = 0; i < 50 && link.enabled(); ++i) {
        link.sendText("GET_STATE\n", 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_THAT(GetCapturedStdout(), StartsWith("socket send failed: "));
    ASSERT_FALSE(link.enabled());
    CaptureStdout();
    char buffer[8] = "keep";
    EXPECT_EQ(link.receiveLine(buffer, 7), 0);
    EXPECT_STREQ(buffer, "keep");
    EXPECT_EQ(GetCapturedStdout(), "");
}

}  // namespace
}  // namespace nimbus
