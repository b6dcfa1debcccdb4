#include "ssh/connection.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "base/os_error.h"
#include "base/siphash.h"
#include "base/text.h"
#include "config/ssh_config.h"
#include "ssh/process.h"

namespace wrenfield {
namespace {

// The identity file as "-i" receives it: a leading "~/" becomes HOME, joined as plain text.
std::string expand_identity_file(const std::string& identity_file) {
    if (identity_file.size() < 2 || identity_file.compare(0, 2, "~/") != 0)
        return identity_file;
    const char* home = std::getenv("HOME");
    if (home == nullptr || !is_valid_utf8(home))
        return identity_file;
    return std::string(home) + identity_file.substr(1);
}

std::string debug_optional(const std::optional<std::string>& text) {
    return text ? "Some(" + debug_quote(*text) + ")" : "None";
}

// "name (uid N)", or "uid N" for an account without a name.
std::string account_text(uid_t uid) {
    passwd entry;
    passwd* found = nullptr;
    char buffer[4096];
    if (::getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr)
        return std::string(found->pw_name) + " (uid " + std::to_string(uid) + ")";
    return "uid " + std::to_string(uid);
}

}  // namespace

std::string control_path_for(std::string_view destination, std::optional<uint16_t> port,
                             const std::optional<std::string>& user,
                             const std::optional<std::string>& identity_file) {
    std::string key(destination);
    key += ':';
    key += port ? "Some(" + std::to_string(*port) + ")" : "None";
    key += ':';
    key += debug_optional(user);
    key += ':';
    key += debug_optional(identity_file);
    // A text is hashed as its bytes followed by one 0xFF byte, which ends it unambiguously.
    key += '\xff';
    char path[64];
    std::snprintf(path, sizeof path, "/tmp/wrenfield-%016llx.sock",
                  static_cast<unsigned long long>(siphash13(0, 0, key)));
    return path;
}

SshConnection SshConnection::create(std::string host, std::optional<uint16_t> port,
                                    std::optional<std::string> user,
                                    std::optional<std::string> identity_file) {
    const std::optional<SshConfigHost> entry = find_config_host(host);
    SshConnection connection;
    connection.port = port ? port : (entry ? entry->port : std::nullopt);
    connection.user = user ? std::move(user) : (entry ? entry->user : std::nullopt);
    connection.identity_file =
        identity_file ? std::move(identity_file) : (entry ? entry->identity_file : std::nullopt);
    // An identity file turns IdentitiesOnly on unless the host's entry says otherwise.
    if (entry && entry->identities_only)
        connection.identities_only = *entry->identities_only;
    else
        connection.identities_only = connection.identity_file.has_value();
    // The host stays as typed, also for an alias: ssh resolves it through its own config.
    connection.destination = connection.user ? *connection.user + "@" + host : std::move(host);
    connection.control_path = control_path_for(connection.destination, connection.port,
                                               connection.user, connection.identity_file);
    return connection;
}

SshConnection::SshConnection(SshConnection&& other) noexcept
    : destination(std::move(other.destination)),
      control_path(std::move(other.control_path)),
      home_dir(std::move(other.home_dir)),
      remote_os(std::move(other.remote_os)),
      remote_user(std::move(other.remote_user)),
      user(std::move(other.user)),
      identity_file(std::move(other.identity_file)),
      port(other.port),
      identities_only(other.identities_only),
      has_python(other.has_python),
      owns_master_(other.owns_master_) {
    other.owns_master_ = false;
}

SshConnection& SshConnection::operator=(SshConnection&& other) noexcept {
    if (this == &other)
        return *this;
    // The record being replaced closes its own master first, as its destruction would.
    if (owns_master_)
        close_master();
    destination = std::move(other.destination);
    control_path = std::move(other.control_path);
    home_dir = std::move(other.home_dir);
    remote_os = std::move(other.remote_os);
    remote_user = std::move(other.remote_user);
    user = std::move(other.user);
    identity_file = std::move(other.identity_file);
    port = other.port;
    identities_only = other.identities_only;
    has_python = other.has_python;
    owns_master_ = other.owns_master_;
    other.owns_master_ = false;
    return *this;
}

SshConnection SshConnection::borrow() const {
    SshConnection copy(*this);
    copy.owns_master_ = false;
    return copy;
}

SshConnection::~SshConnection() {
    if (owns_master_)
        close_master();
}

bool SshConnection::has_safe_destination() const {
    return destination.empty() || destination.front() != '-';
}

std::vector<std::string> SshConnection::ssh_command() const {
    std::vector<std::string> command = {"ssh",
                                        "-o",
                                        "BatchMode=yes",
                                        "-o",
                                        "ConnectTimeout=10",
                                        "-o",
                                        "ControlMaster=auto",
                                        "-o",
                                        "ControlPath=" + control_path,
                                        "-o",
                                        "ControlPersist=10m",
                                        "-o",
                                        "ServerAliveInterval=15",
                                        "-o",
                                        "ServerAliveCountMax=3",
                                        "-o",
                                        "StrictHostKeyChecking=accept-new"};
    if (port) {
        command.push_back("-p");
        command.push_back(std::to_string(*port));
    }
    if (identity_file) {
        command.push_back("-i");
        command.push_back(expand_identity_file(*identity_file));
    }
    if (identities_only) {
        command.push_back("-o");
        command.push_back("IdentitiesOnly=yes");
    }
    command.push_back(destination);
    return command;
}

void SshConnection::close_master() const {
    // A destination that ssh would read as an option is never handed to it, and the exit
    // request goes to no socket but our own master's.
    if (has_safe_destination() && check_control_socket(control_path)) {
        // The outcome does not matter: the master may be gone already.
        (void)run_captured({"ssh", "-O", "exit", "-o", "ControlPath=" + control_path, destination});
    }
    remove_socket_file(control_path);
}

std::expected<void, std::string> check_control_socket(const std::string& path) {
    struct stat status;
    if (::lstat(path.c_str(), &status) != 0) {
        if (errno == ENOENT)
            return {};
        return std::unexpected("Cannot check the SSH control socket " + path + ": " +
                               os_error_text(errno));
    }
    const std::string refusing = "Refusing the SSH control socket " + path + ": ";
    const std::string owner = account_text(status.st_uid);
    if (S_ISLNK(status.st_mode))
        return std::unexpected(refusing + "it is a symbolic link (owned by " + owner + ")");
    if (!S_ISSOCK(status.st_mode))
        return std::unexpected(refusing + "it is not a socket (owned by " + owner + ")");
    if (status.st_uid != ::geteuid())
        return std::unexpected(refusing + "it belongs to " + owner + ", not to this user");
    return {};
}

void remove_socket_file(const std::string& path) {
    struct stat status;
    if (::stat(path.c_str(), &status) == 0)
        ::unlink(path.c_str());
}

}  // namespace wrenfield
