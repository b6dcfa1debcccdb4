// The SshConnection record: its control socket, the ssh argument vector shared by every
// remote run, and closing the master connection when the record goes away.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace wrenfield {

class SshConnection {
  public:
    // Merges what was given with the matching ~/.ssh/config entry. Starts no process.
    static SshConnection create(std::string host, std::optional<uint16_t> port = std::nullopt,
                                std::optional<std::string> user = std::nullopt,
                                std::optional<std::string> identity_file = std::nullopt);

    SshConnection(SshConnection&& other) noexcept;
    SshConnection& operator=(SshConnection&& other) noexcept;
    SshConnection& operator=(const SshConnection&) = delete;
    // Runs close_master, unless the record was moved from.
    ~SshConnection();

    // A copy for a run made without holding the record, beside other runs: the same command
    // line, but destroying it leaves the master alone, which stays the record's. Its runs may
    // start the master again when it has ended (after ControlPersist's idle time); a run that
    // may have done so after the record went closes it with close_master.
    SshConnection borrow() const;

    // "ssh" followed by the options, port, identity and destination; the caller appends the
    // remote command as the last element.
    std::vector<std::string> ssh_command() const;

    // `ssh -O exit` on the control socket (skipped for an unsafe destination), then removes
    // the socket file. Reports nothing.
    void close_master() const;

    // False when the destination would be read by ssh as an option (it begins with "-").
    bool has_safe_destination() const;

    std::string destination;
    std::string control_path;
    std::string home_dir = "/";
    std::string remote_os = "Unknown";
    std::string remote_user;
    std::optional<std::string> user;
    std::optional<std::string> identity_file;
    std::optional<uint16_t> port;
    bool identities_only = false;
    bool has_python = false;

  private:
    SshConnection() = default;
    // Only borrow() copies a record, and its copy gives up the master.
    SshConnection(const SshConnection&) = default;
    bool owns_master_ = true;
};

// The control socket's name: "/tmp/wrenfield-" + 16 lower-case hex digits + ".sock". The digits
// are SipHash-1-3 (both keys 0) of the key text
//   destination ":" port ":" user ":" identity file
// with the port as "Some(22)" or "None", the user and identity file as "Some(" + their
// debug_quote form + ")" or "None", and one 0xFF byte after the text. The same four values give
// the same name on every run, so a master kept alive by ControlPersist is found again by the
// next run. The user sees the name as the socket file in /tmp and in ssh's ControlPath option
// (`ssh -O check -o ControlPath=...`). Pinned by the ControlPath tests in
// tests/connection_test.cc.
std::string control_path_for(std::string_view destination, std::optional<uint16_t> port,
                             const std::optional<std::string>& user,
                             const std::optional<std::string>& identity_file);

// Whether ssh may use `path` as its control socket: /tmp is open to every account, so another
// one could place a socket there first and ssh would take it for the master. The path must be
// absent (the master will make it) or a socket of this program's user, checked without
// following links. The error names the path and its owner:
//   "Refusing the SSH control socket /tmp/wrenfield-….sock: it belongs to nobody (uid 65534),
//    not to this user"
std::expected<void, std::string> check_control_socket(const std::string& path);

// Unlinks the path if it exists; errors are ignored.
void remove_socket_file(const std::string& path);

}  // namespace wrenfield
