// The port probe against a real listener and the whole-number search.
#include <doctest/doctest.h>

#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "envcheck/tcp.h"

namespace {

// A winsock listener on 127.0.0.1:port for the life of the object.
class Listener {
public:
    explicit Listener(int port)
    {
        socket_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (socket_ == INVALID_SOCKET) return;
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = ::htons(static_cast<u_short>(port));
        address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
        listening_ = ::bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                     ::listen(socket_, 1) == 0;
    }
    ~Listener()
    {
        if (socket_ != INVALID_SOCKET) ::closesocket(socket_);
    }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;
    bool listening() const { return listening_; }

private:
    SOCKET socket_ = INVALID_SOCKET;
    bool listening_ = false;
};

struct Winsock {
    Winsock()
    {
        WSADATA data;
        ok = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }
    ~Winsock()
    {
        if (ok) ::WSACleanup();
    }
    bool ok = false;
};

// The probe is meaningless where something on this machine already holds
// the port: say so and leave with the skip code the test is registered with.
// Asked with a bind of our own, not with the probe under test.
void SkipIfTaken(int port)
{
    Listener trial(port);
    if (trial.listening()) return;
    std::printf("SKIP: cannot listen on 127.0.0.1:%d, something on this machine holds it\n", port);
    std::fflush(stdout);
    std::exit(77);
}

}  // namespace

TEST_CASE("PortListContains matches whole port numbers only")
{
    struct Case {
        const char* list;
        int port;
        bool found;
    };
    const Case cases[] = {
        {",135,445,1433", 1433, true},
        {",1433,135", 1433, true},
        {",135,1433,445", 1433, true},
        {",14330", 1433, false},
        {",11433", 1433, false},
        {",1433", 143, false},
        {",1433", 433, false},
        {",1433", 14, false},
        {"", 1433, false},
        {"", 0, false},
        {",0", 0, true},
        {",65535", 65535, true},
        {",1433", -1433, false},
    };
    for (const Case& c : cases) {
        CAPTURE(c.list);
        CAPTURE(c.port);
        CHECK(PortListContains(c.list, c.port) == c.found);
    }
}

TEST_CASE("FormatPortList keeps the order and every repeat")
{
    CHECK(FormatPortList({}) == "");
    CHECK(FormatPortList({135, 445, 1433}) == ",135,445,1433");
    CHECK(FormatPortList({1433, 80, 1433}) == ",1433,80,1433");
    CHECK(FormatPortList({0, 65535}) == ",0,65535");
}

TEST_CASE("IsPortInUse sees a listener on 1433 and nothing that only looks like it")
{
    Winsock winsock;
    REQUIRE(winsock.ok);
    SkipIfTaken(1433);

    {
        Listener neighbour(14330);
        REQUIRE_MESSAGE(neighbour.listening(), "cannot listen on 127.0.0.1:14330");
        CHECK(IsPortInUse(14330));
        CHECK_FALSE(IsPortInUse(1433));
        CHECK_FALSE(IsPortInUse(1433 / 10));
    }
    {
        Listener exact(1433);
        REQUIRE_MESSAGE(exact.listening(), "cannot listen on 127.0.0.1:1433");
        CHECK(IsPortInUse(1433));
        CHECK_FALSE(IsPortInUse(143));
        const std::string ports = GetTcpLocalPorts();
        CAPTURE(ports);
        CHECK(ports.rfind(',', 0) == 0);
        CHECK(PortListContains(ports, 1433));
    }
    CHECK_FALSE(IsPortInUse(1433));
}
