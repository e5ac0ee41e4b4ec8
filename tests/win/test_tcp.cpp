// The port probe against real sockets: a listener, connections left in
// their closing states, a port seen only at the far end, and an IPv6-only
// listener. Each state is first proven from the tables themselves, so a
// fixture that did not come out as meant fails instead of passing.
#include <doctest/doctest.h>

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

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

// A socket closed when the object goes.
class Socket {
public:
    Socket() = default;
    explicit Socket(SOCKET s) : s_(s) {}
    ~Socket() { Close(); }
    Socket(Socket&& o) noexcept : s_(o.s_) { o.s_ = INVALID_SOCKET; }
    Socket& operator=(Socket&& o) noexcept
    {
        if (this != &o) {
            Close();
            s_ = o.s_;
            o.s_ = INVALID_SOCKET;
        }
        return *this;
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    SOCKET get() const { return s_; }
    explicit operator bool() const { return s_ != INVALID_SOCKET; }
    void Close()
    {
        if (s_ != INVALID_SOCKET) ::closesocket(s_);
        s_ = INVALID_SOCKET;
    }

private:
    SOCKET s_ = INVALID_SOCKET;
};

// A loopback connection: a listener on the port (0: one the system picks),
// the client's end and the accepted end.
struct Connection {
    Socket listener, client, accepted;
    int port = 0;
    bool ok = false;
};

Connection Connect(int port)
{
    Connection c;
    c.listener = Socket(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = ::htons(static_cast<u_short>(port));
    address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    if (!c.listener ||
        ::bind(c.listener.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(c.listener.get(), 1) != 0 ||
        ::getsockname(c.listener.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return c;
    c.port = ::ntohs(address.sin_port);
    c.client = Socket(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (!c.client ||
        ::connect(c.client.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return c;
    c.accepted = Socket(::accept(c.listener.get(), nullptr, nullptr));
    c.ok = static_cast<bool>(c.accepted);
    return c;
}

struct Row {
    DWORD state;
    int localPort, remotePort;
};

// The machine's IPv4 TCP table, read here without the probe under test.
std::vector<Row> Ipv4Rows()
{
    std::vector<Row> rows;
    ULONG size = 0;
    if (::GetTcpTable(nullptr, &size, TRUE) != ERROR_INSUFFICIENT_BUFFER) return rows;
    std::vector<DWORD> buffer(size / sizeof(DWORD) + 64);
    size = static_cast<ULONG>(buffer.size() * sizeof(DWORD));
    auto* table = reinterpret_cast<MIB_TCPTABLE*>(buffer.data());
    if (::GetTcpTable(table, &size, TRUE) != NO_ERROR) return rows;
    for (DWORD i = 0; i < table->dwNumEntries; ++i)
        rows.push_back({table->table[i].dwState,
                        ::ntohs(static_cast<u_short>(table->table[i].dwLocalPort)),
                        ::ntohs(static_cast<u_short>(table->table[i].dwRemotePort))});
    return rows;
}

// The states of the rows whose local port is port, sorted.
std::vector<DWORD> LocalStates(int port)
{
    std::vector<DWORD> states;
    for (const Row& r : Ipv4Rows())
        if (r.localPort == port) states.push_back(r.state);
    std::sort(states.begin(), states.end());
    return states;
}

bool SeenAsRemote(int port)
{
    const std::vector<Row> rows = Ipv4Rows();
    return std::any_of(rows.begin(), rows.end(), [&](const Row& r) { return r.remotePort == port; });
}

// Closing states are reached a moment after closesocket: wait for the
// wanted set of local rows, bounded.
bool WaitForLocalStates(int port, const std::vector<DWORD>& wanted)
{
    for (int i = 0; i < 100; ++i) {
        if (LocalStates(port) == wanted) return true;
        ::Sleep(20);
    }
    return false;
}

}  // namespace

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
        const std::vector<uint16_t> ports = GetTcpLocalPorts();
        CHECK(std::count(ports.begin(), ports.end(), 1433) == 1);
    }
    CHECK_FALSE(IsPortInUse(1433));
}

TEST_CASE("a port held only by a connection in TIME_WAIT or CLOSE_WAIT is in use")
{
    Winsock winsock;
    REQUIRE(winsock.ok);

    SUBCASE("TIME_WAIT: the accepting end closed first")
    {
        Connection c = Connect(0);
        REQUIRE(c.ok);
        c.listener.Close();
        c.accepted.Close();  // its side goes through FIN_WAIT to TIME_WAIT
        c.client.Close();
        REQUIRE(WaitForLocalStates(c.port, {MIB_TCP_STATE_TIME_WAIT}));
        CHECK(IsPortInUse(c.port));
    }
    SUBCASE("CLOSE_WAIT: the far end closed, ours not yet")
    {
        Connection c = Connect(0);
        REQUIRE(c.ok);
        c.listener.Close();
        c.client.Close();  // the accepted end is left in CLOSE_WAIT
        REQUIRE(WaitForLocalStates(c.port, {MIB_TCP_STATE_CLOSE_WAIT}));
        CHECK(IsPortInUse(c.port));
        c.accepted.Close();
    }
}

TEST_CASE("1433 seen only as the remote port of a connection is free")
{
    Winsock winsock;
    REQUIRE(winsock.ok);
    SkipIfTaken(1433);
    // The client closes first and keeps its TIME_WAIT row, local port its
    // own, remote port 1433, once the server's ends are gone.
    Connection c = Connect(1433);
    REQUIRE(c.ok);
    c.listener.Close();
    c.client.Close();
    c.accepted.Close();
    REQUIRE(WaitForLocalStates(1433, {}));
    REQUIRE(SeenAsRemote(1433));
    CHECK_FALSE(IsPortInUse(1433));
}

TEST_CASE("an IPv6-only listener is not seen: the probe reads the IPv4 table")
{
    Winsock winsock;
    REQUIRE(winsock.ok);
    Socket listener(::socket(AF_INET6, SOCK_STREAM, IPPROTO_TCP));
    DWORD only = 1;
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_loopback;
    int length = sizeof address;
    if (!listener ||
        ::setsockopt(listener.get(), IPPROTO_IPV6, IPV6_V6ONLY, reinterpret_cast<const char*>(&only),
                     sizeof only) != 0 ||
        ::bind(listener.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener.get(), 1) != 0 ||
        ::getsockname(listener.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        MESSAGE("no IPv6 loopback here (error ", ::WSAGetLastError(), "): nothing to show");
        return;
    }
    const int port = ::ntohs(address.sin6_port);
    CAPTURE(port);

    // The listener is real: the IPv6 table holds it.
    ULONG size = 0;
    REQUIRE(::GetTcp6Table(nullptr, &size, TRUE) == ERROR_INSUFFICIENT_BUFFER);
    std::vector<DWORD> buffer(size / sizeof(DWORD) + 64);
    size = static_cast<ULONG>(buffer.size() * sizeof(DWORD));
    auto* table = reinterpret_cast<MIB_TCP6TABLE*>(buffer.data());
    REQUIRE(::GetTcp6Table(table, &size, TRUE) == NO_ERROR);
    bool listed = false;
    for (DWORD i = 0; i < table->dwNumEntries; ++i)
        listed = listed || (::ntohs(static_cast<u_short>(table->table[i].dwLocalPort)) == port &&
                            table->table[i].State == MIB_TCP_STATE_LISTEN);
    REQUIRE(listed);

    CHECK(LocalStates(port).empty());
    CHECK_FALSE(IsPortInUse(port));
}
