// Who is at the other end of a loopback connection: the local account that owns the client's
// socket, read from the kernel's socket table, and the server's admission of a connection by it.
#pragma once

#include <sys/types.h>

#include <expected>
#include <string>

namespace wrenfield {

// The uid that owns the client's end of the connected TCP socket `socket`, when that end is a
// socket of this machine still held by a process. Asks the socket-diagnostics netlink interface
// for the one socket with the connection's exact addresses and ports; where that interface
// cannot answer, reads /proc/net/tcp (or tcp6). The error says why the owner is unknown: the
// system's text, or that no such socket was found (the client is elsewhere, or has closed its
// socket already, which leaves no owner to read).
std::expected<uid_t, std::string> peer_owner(int socket);

// Each way on its own, for the tests and the benchmark.
std::expected<uid_t, std::string> peer_owner_by_netlink(int socket);
std::expected<uid_t, std::string> peer_owner_by_proc(int socket);

// Whether the connection on `socket` may be served: its client's socket belongs to the account
// this program runs as (the effective uid). Any other owner, or one that cannot be read, is
// refused; each refusal is written to standard error.
bool is_own_users_connection(int socket);

}  // namespace wrenfield
