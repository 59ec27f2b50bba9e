// TCP helpers that need no traffic: host text, message lines, socket options on every socket.
#include "ovix/network.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <ws2tcpip.h>
#else
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif

#include "capture_stream.h"
#include "ovix/ovix.h"

namespace velmora::ovix {
namespace {

TEST(Network, HostTextSplitsAtTheFirstColon) {
    struct Case {
        const char* text;
        const char* host;
        const char* port;
    } const cases[] = {
        {"switch.example", "switch.example", "1200"},
        {"198.19.0.2:4000", "198.19.0.2", "4000"},
        {"h:1:2", "h", "1:2"},
        {":99", "", "99"},
        {"h:", "h", ""},
    };
    for (const Case& c : cases) {
        std::string host, port;
        split_host_port(c.text, &host, &port);
        EXPECT_EQ(host, c.host) << c.text;
        EXPECT_EQ(port, c.port) << c.text;
    }
    // Only the first 63 characters count.
    std::string host, port;
    split_host_port((std::string(70, 'a') + ":5").c_str(), &host, &port);
    EXPECT_EQ(host, std::string(63, 'a'));
    EXPECT_EQ(port, "1200");
}

TEST(Network, SystemMessageOnOneLine) {
    EXPECT_EQ(one_line("No such host is known. \r\n"), "No such host is known.");
    EXPECT_EQ(one_line("first\r\nsecond\r\n"), "first  second");
    EXPECT_EQ(one_line(std::string(2000, 'm').c_str()).size(), 1024u);
}

class Sockets : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(net_startup()); }
    void TearDown() override { net_cleanup(); }
    static int option(socket_t s, int level, int name) {
        int value = 0;
        socklen_t size = sizeof value;
        getsockopt(s, level, name, reinterpret_cast<char*>(&value), &size);
        return value;
    }
};

// A server's later connections must get no-delay as its first one did.
TEST_F(Sockets, NoDelayAndKeepAliveOnEverySocket) {
    testing::ReportCapture reports;
    socket_t s[3];
    for (socket_t& one : s) {
        one = tcp_socket();
        ASSERT_NE(one, kNoSocket);
        EXPECT_EQ(ovix_set_nodelay(one), 0);
        EXPECT_EQ(ovix_set_keepalive(one), 0);
    }
    for (socket_t one : s) {
        EXPECT_NE(option(one, IPPROTO_TCP, TCP_NODELAY), 0);
        EXPECT_NE(option(one, SOL_SOCKET, SO_KEEPALIVE), 0);
        close_socket(one);
    }
    EXPECT_EQ(reports.text(), "");
}

TEST_F(Sockets, FailedOptionIsReported) {
    testing::ReportCapture reports;
    const socket_t s = tcp_socket();
    close_socket(s); // no longer a socket
    EXPECT_NE(ovix_set_nodelay(s), 0);
    EXPECT_NE(ovix_set_keepalive(s), 0);
    EXPECT_TRUE(reports.has("(ovix_set_nodelay) setsockopt TCP_NODELAY\n")) << reports.text();
    EXPECT_TRUE(reports.has("(ovix_set_keepalive) setsockopt SO_KEEPALIVE\n")) << reports.text();
}

TEST_F(Sockets, UnknownServiceFailsTheConnectWithOneLineMessage) {
    testing::ReportCapture reports;
    EXPECT_EQ(tcp_connect("198.19.0.9:no-such-service-name"), kNoSocket);
    const std::string text = reports.text();
    EXPECT_EQ(text.rfind("ovix err: ovix/ovix_network:", 0), 0u) << text;
    EXPECT_NE(text.find("(tcp_connect ) 198.19.0.9 no-such-service-name: "), std::string::npos)
        << text;
    // The whole report is one line.
    EXPECT_EQ(text.find('\n'), text.size() - 1) << text;
}

} // namespace
} // namespace velmora::ovix
