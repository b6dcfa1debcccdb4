// The owner of a loopback connection's client socket, read through the netlink interface and
// through /proc, and the server refusing connections from other accounts. A client of another
// account is a forked child that drops to "nobody" before it makes its socket, so these tests
// need to run as root.
#include "server/peer_owner.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>

#include "support/in_process_server.h"
#include "support/spawn.h"

namespace wrenfield::testing {
namespace {

using namespace std::chrono_literals;

constexpr uid_t nobody = 65534;

sockaddr_in loopback(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// Runs a client in a child process as `uid`: it makes its socket after taking on that uid,
// connects to 127.0.0.1:port, sends `request` and reads until the server closes the connection
// (or 20 s pass). Returns what it read. The test process has threads, so the child makes only
// system calls.
class ClientAs {
  public:
    ClientAs(uid_t uid, uint16_t port, const std::string& request) {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0)
            return;
        UniqueFd read_end(ends[0]);
        UniqueFd write_end(ends[1]);
        const sockaddr_in address = loopback(port);
        pid_ = ::fork();
        if (pid_ == 0)
            run_child(uid, address, request, write_end.get());
        write_end.reset();
        output_ = std::move(read_end);
    }
    ~ClientAs() { (void)result(); }
    ClientAs(const ClientAs&) = delete;
    ClientAs& operator=(const ClientAs&) = delete;

    // What the client read; waits for it to end.
    std::string result() {
        std::string text;
        if (!output_)
            return text;
        char buffer[4096];
        for (ssize_t count; (count = ::read(output_.get(), buffer, sizeof buffer)) > 0;)
            text.append(buffer, static_cast<size_t>(count));
        output_.reset();
        int status = 0;
        if (pid_ > 0)
            ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return text;
    }

  private:
    [[noreturn]] static void run_child(uid_t uid, const sockaddr_in& address,
                                       const std::string& request, int output) {
        const auto fail = [output](const char* step) {
            (void)!::write(output, step, std::strlen(step));
            ::_exit(1);
        };
        if (::setresuid(uid, uid, uid) != 0)
            fail("<setresuid failed>");
        const int client = ::socket(AF_INET, SOCK_STREAM, 0);
        if (client < 0 ||
            ::connect(client, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
            fail("<connect failed>");
        const timeval patience{20, 0};
        ::setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
        if (!request.empty() && ::send(client, request.data(), request.size(), MSG_NOSIGNAL) !=
                                    static_cast<ssize_t>(request.size()))
            fail("<send failed>");
        char buffer[4096];
        for (ssize_t count; (count = ::recv(client, buffer, sizeof buffer, 0)) > 0;)
            (void)!::write(output, buffer, static_cast<size_t>(count));
        ::_exit(0);
    }

    pid_t pid_ = -1;
    UniqueFd output_;
};

// A listening socket on a free loopback port, from which the test accepts by hand.
class Listener {
  public:
    Listener() : socket_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in address = loopback(0);
        socklen_t length = sizeof address;
        if (::bind(socket_.get(), reinterpret_cast<sockaddr*>(&address), length) == 0 &&
            ::listen(socket_.get(), 8) == 0 &&
            ::getsockname(socket_.get(), reinterpret_cast<sockaddr*>(&address), &length) == 0) {
            port_ = ntohs(address.sin_port);
        }
    }
    uint16_t port() const { return port_; }
    // The next connection, or an empty descriptor after 20 s.
    UniqueFd accept() {
        pollfd entry{socket_.get(), POLLIN, 0};
        if (::poll(&entry, 1, 20000) != 1)
            return UniqueFd();
        return UniqueFd(::accept4(socket_.get(), nullptr, nullptr, SOCK_CLOEXEC));
    }

  private:
    UniqueFd socket_;
    uint16_t port_ = 0;
};

class PeerOwnerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (::geteuid() != 0)
            GTEST_SKIP() << "a client of another account needs root to start";
    }
};

TEST_F(PeerOwnerTest, BothWaysReadTheClientsAccount) {
    Listener listener;
    ASSERT_NE(listener.port(), 0);
    for (uid_t uid : {::geteuid(), nobody}) {
        ClientAs client(uid, listener.port(), "");
        UniqueFd accepted = listener.accept();
        ASSERT_TRUE(accepted);
        const auto by_netlink = peer_owner_by_netlink(accepted.get());
        const auto by_proc = peer_owner_by_proc(accepted.get());
        ASSERT_TRUE(by_netlink) << by_netlink.error();
        ASSERT_TRUE(by_proc) << by_proc.error();
        EXPECT_EQ(*by_netlink, uid);
        EXPECT_EQ(*by_proc, uid);
        EXPECT_EQ(is_own_users_connection(accepted.get()), uid == ::geteuid());
    }
}

TEST_F(PeerOwnerTest, AClientThatHasClosedItsSocketHasNoOwner) {
    // A socket its process has let go of stays in the table for a while without an owner (the
    // kernel may then report it as root's); it must not pass for the user's.
    Listener listener;
    ASSERT_NE(listener.port(), 0);
    UniqueFd client(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const sockaddr_in address = loopback(listener.port());
    ASSERT_EQ(::connect(client.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address),
              0);
    UniqueFd accepted = listener.accept();
    ASSERT_TRUE(accepted);
    client.reset();
    EXPECT_FALSE(peer_owner_by_netlink(accepted.get()));
    EXPECT_FALSE(peer_owner_by_proc(accepted.get()));
    EXPECT_FALSE(is_own_users_connection(accepted.get()));
}

TEST_F(PeerOwnerTest, TheServerServesOnlyTheUsersOwnProcesses) {
    InProcessServer server;
    const std::string request =
        "GET /api/status HTTP/1.1\r\nHost: " + server.host() + "\r\nConnection: close\r\n\r\n";
    const std::string foreign = ClientAs(nobody, server.port(), request).result();
    EXPECT_EQ(foreign, "") << "another account was answered";
    const std::string own = ClientAs(::geteuid(), server.port(), request).result();
    EXPECT_TRUE(own.starts_with("HTTP/1.1 200 ")) << own;
    EXPECT_TRUE(own.ends_with(R"({"connected":false})")) << own;
    // The page's own requests from this process, too.
    EXPECT_TRUE(raw_http_exchange(server.port(), request).starts_with("HTTP/1.1 200 "));
}

}  // namespace
}  // namespace wrenfield::testing
