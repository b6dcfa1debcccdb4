#include "server/peer_owner.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "base/os_error.h"

namespace wrenfield {
namespace {

// Closes the descriptor it holds.
class OwnedFd {
  public:
    explicit OwnedFd(int fd) : fd_(fd) {}
    ~OwnedFd() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    OwnedFd(const OwnedFd&) = delete;
    OwnedFd& operator=(const OwnedFd&) = delete;
    int get() const { return fd_; }

  private:
    int fd_;
};

// One end of a TCP connection: the address as the kernel stores it (IPv4 in the first word)
// and the port in network byte order.
struct Endpoint {
    uint32_t address[4] = {};
    uint16_t port = 0;
};

// The connection as the server's socket sees it. The client's socket is the one whose own end
// is `peer` and whose other end is `local`.
struct Connection {
    int family = AF_UNSPEC;
    Endpoint local;
    Endpoint peer;
};

std::expected<Endpoint, std::string> endpoint_of(int socket, bool peer, int& family) {
    sockaddr_storage storage{};
    socklen_t length = sizeof storage;
    auto* address = reinterpret_cast<sockaddr*>(&storage);
    if ((peer ? ::getpeername(socket, address, &length)
              : ::getsockname(socket, address, &length)) != 0) {
        return std::unexpected(os_error_text(errno));
    }
    Endpoint endpoint;
    family = storage.ss_family;
    if (storage.ss_family == AF_INET) {
        const auto& v4 = reinterpret_cast<const sockaddr_in&>(storage);
        endpoint.address[0] = v4.sin_addr.s_addr;
        endpoint.port = v4.sin_port;
    } else if (storage.ss_family == AF_INET6) {
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(storage);
        std::memcpy(endpoint.address, &v6.sin6_addr, sizeof endpoint.address);
        endpoint.port = v6.sin6_port;
    } else {
        return std::unexpected(std::string("not a TCP/IP connection"));
    }
    return endpoint;
}

std::expected<Connection, std::string> connection_of(int socket) {
    Connection connection;
    int peer_family = AF_UNSPEC;
    auto local = endpoint_of(socket, false, connection.family);
    if (!local)
        return std::unexpected(local.error());
    auto peer = endpoint_of(socket, true, peer_family);
    if (!peer)
        return std::unexpected(peer.error());
    if (peer_family != connection.family)
        return std::unexpected(std::string("the connection's ends are of two address families"));
    connection.local = *local;
    connection.peer = *peer;
    return connection;
}

size_t address_words(int family) {
    return family == AF_INET ? 1 : 4;
}

bool same_endpoint(const Endpoint& endpoint, const uint32_t* address, uint16_t port, int family) {
    return endpoint.port == port &&
           std::memcmp(endpoint.address, address, address_words(family) * sizeof(uint32_t)) == 0;
}

constexpr std::string_view no_such_socket = "the client's socket is not in the socket table";

}  // namespace

std::expected<uid_t, std::string> peer_owner_by_netlink(int socket) {
    const auto connection = connection_of(socket);
    if (!connection)
        return std::unexpected(connection.error());
    const OwnedFd diag(::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG));
    if (diag.get() < 0)
        return std::unexpected(os_error_text(errno));

    // One socket looked up by its exact addresses and ports: the client's own end is the
    // source, the server's the destination. No cookie: any socket with those ends will do.
    struct {
        nlmsghdr header;
        inet_diag_req_v2 request;
    } message{};
    message.header.nlmsg_len = sizeof message;
    message.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    message.header.nlmsg_flags = NLM_F_REQUEST;
    message.request.sdiag_family = static_cast<uint8_t>(connection->family);
    message.request.sdiag_protocol = IPPROTO_TCP;
    message.request.idiag_states = ~0u;
    inet_diag_sockid& id = message.request.id;
    id.idiag_sport = connection->peer.port;
    id.idiag_dport = connection->local.port;
    std::memcpy(id.idiag_src, connection->peer.address, sizeof id.idiag_src);
    std::memcpy(id.idiag_dst, connection->local.address, sizeof id.idiag_dst);
    id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
    id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;

    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(diag.get(), &message, sizeof message, 0, reinterpret_cast<sockaddr*>(&kernel),
                 sizeof kernel) < 0) {
        return std::unexpected(os_error_text(errno));
    }
    // The kernel queues its answer while it takes the request, so it is there to be read.
    alignas(nlmsghdr) char answer[8192];
    const ssize_t length = ::recv(diag.get(), answer, sizeof answer, MSG_DONTWAIT);
    if (length < 0)
        return std::unexpected(os_error_text(errno));
    auto* header = reinterpret_cast<const nlmsghdr*>(answer);
    if (!NLMSG_OK(header, static_cast<unsigned>(length)))
        return std::unexpected(std::string("a malformed socket-diagnostics answer"));
    if (header->nlmsg_type == NLMSG_ERROR) {
        const auto* error = static_cast<const nlmsgerr*>(NLMSG_DATA(header));
        if (error->error == -ENOENT)
            return std::unexpected(std::string(no_such_socket));
        return std::unexpected(os_error_text(-error->error));
    }
    if (header->nlmsg_type != SOCK_DIAG_BY_FAMILY ||
        header->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg))) {
        return std::unexpected(std::string("a malformed socket-diagnostics answer"));
    }
    const auto* found = static_cast<const inet_diag_msg*>(NLMSG_DATA(header));
    // The lookup falls back to a listening socket on the same port; only the connected socket
    // with both ends ours is the client's. A socket without an inode has been closed by its
    // process (and one in TIME_WAIT reports no owner at all).
    if (found->idiag_family != connection->family ||
        !same_endpoint(connection->peer, found->id.idiag_src, found->id.idiag_sport,
                       connection->family) ||
        !same_endpoint(connection->local, found->id.idiag_dst, found->id.idiag_dport,
                       connection->family) ||
        found->idiag_inode == 0) {
        return std::unexpected(std::string(no_such_socket));
    }
    return static_cast<uid_t>(found->idiag_uid);
}

namespace {

// An address and port as /proc/net/tcp writes them: each 32-bit word of the address as the
// machine holds it, in upper-case hex, then ":" and the port in host order.
std::string table_form(const Endpoint& endpoint, int family) {
    std::string text;
    char word[16];
    for (size_t i = 0; i < address_words(family); ++i) {
        std::snprintf(word, sizeof word, "%08X", endpoint.address[i]);
        text += word;
    }
    std::snprintf(word, sizeof word, ":%04X", ntohs(endpoint.port));
    return text + word;
}

// The `index`th field of a table line, fields separated by spaces.
std::string_view field(std::string_view line, size_t index) {
    size_t position = 0;
    for (size_t i = 0;; ++i) {
        position = line.find_first_not_of(' ', position);
        if (position == std::string_view::npos)
            return {};
        const size_t end = std::min(line.find(' ', position), line.size());
        if (i == index)
            return line.substr(position, end - position);
        position = end;
    }
}

std::expected<std::string, std::string> read_whole(const char* path) {
    const OwnedFd file(::open(path, O_RDONLY | O_CLOEXEC));
    if (file.get() < 0)
        return std::unexpected(os_error_text(errno));
    std::string text;
    char buffer[16384];
    for (;;) {
        const ssize_t count = ::read(file.get(), buffer, sizeof buffer);
        if (count < 0) {
            if (errno == EINTR)
                continue;
            return std::unexpected(os_error_text(errno));
        }
        if (count == 0)
            return text;
        text.append(buffer, static_cast<size_t>(count));
    }
}

}  // namespace

std::expected<uid_t, std::string> peer_owner_by_proc(int socket) {
    const auto connection = connection_of(socket);
    if (!connection)
        return std::unexpected(connection.error());
    auto table = read_whole(connection->family == AF_INET ? "/proc/net/tcp" : "/proc/net/tcp6");
    if (!table)
        return std::unexpected(table.error());
    // Fields: number, own end, other end, state, queues, timer, retransmits, uid, timeout, inode.
    const std::string own_end = table_form(connection->peer, connection->family);
    const std::string other_end = table_form(connection->local, connection->family);
    std::string_view rest = *table;
    while (!rest.empty()) {
        const size_t end = std::min(rest.find('\n'), rest.size());
        const std::string_view line = rest.substr(0, end);
        rest.remove_prefix(std::min(end + 1, rest.size()));
        if (field(line, 1) != own_end || field(line, 2) != other_end)
            continue;
        const std::string_view uid_text = field(line, 7);
        const std::string_view inode_text = field(line, 9);
        uid_t uid = 0;
        if (inode_text.empty() || inode_text == "0" ||
            std::from_chars(uid_text.data(), uid_text.data() + uid_text.size(), uid).ec !=
                std::errc()) {
            continue;
        }
        return uid;
    }
    return std::unexpected(std::string(no_such_socket));
}

std::expected<uid_t, std::string> peer_owner(int socket) {
    auto owner = peer_owner_by_netlink(socket);
    if (owner)
        return owner;
    // The netlink interface may be closed to this process (a sandbox); the table file tells
    // the same from the same kernel.
    auto from_table = peer_owner_by_proc(socket);
    if (from_table)
        return from_table;
    return std::unexpected(owner.error() == from_table.error()
                               ? owner.error()
                               : owner.error() + "; " + from_table.error());
}

bool is_own_users_connection(int socket) {
    const auto owner = peer_owner(socket);
    if (!owner) {
        std::fprintf(stderr, "Refused a connection whose owner cannot be read: %s\n",
                     owner.error().c_str());
        return false;
    }
    if (*owner != ::geteuid()) {
        std::fprintf(stderr, "Refused a connection from another account (uid %u)\n",
                     static_cast<unsigned>(*owner));
        return false;
    }
    return true;
}

}  // namespace wrenfield
