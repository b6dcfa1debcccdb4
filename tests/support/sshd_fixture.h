// The local OpenSSH server that a test program talks to, and the GoogleTest fixture that points
// HOME and PATH at it for each test.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "support/local_system.h"

namespace wrenfield::testing {

// One sshd on 127.0.0.1 (started by tests/support/sshd.sh) with a HOME whose .ssh/config holds
// two aliases for it and an `ssh` wrapper that makes OpenSSH use that HOME's configuration.
class LocalSshServer {
  public:
    // The server of this test program: started on first use, stopped when the program ends
    // (and by a watcher in sshd.sh should the program die). Null when it could not start; then
    // start_error() says why.
    static LocalSshServer* shared();
    static const std::string& start_error();

    // Starts a server of its own under a fresh directory; `login_user` empty means the
    // current account.
    static std::unique_ptr<LocalSshServer> start(std::string* error,
                                                 const std::string& login_user = "");
    ~LocalSshServer();
    LocalSshServer(const LocalSshServer&) = delete;
    LocalSshServer& operator=(const LocalSshServer&) = delete;

    uint16_t port() const { return port_; }
    // "wrenfield-test-PORT" and "wrenfield-test2-PORT": two names for the same server, so that
    // tests can switch hosts. The port in the name keeps parallel test programs, each with its
    // own server, from sharing control sockets.
    const std::string& host_alias() const { return fact("WRENFIELD_TEST_HOST"); }
    const std::string& second_host_alias() const { return fact("WRENFIELD_TEST_HOST2"); }
    const std::string& user() const { return fact("WRENFIELD_TEST_USER"); }
    // The HOME to use: .ssh/config with the aliases, .ssh/id_ed25519 and its .pub.
    const std::string& home() const { return fact("WRENFIELD_TEST_HOME"); }
    // PATH with the wrapper's directory first.
    const std::string& path() const { return fact("WRENFIELD_TEST_PATH"); }
    const std::string& key_path() const { return fact("WRENFIELD_TEST_KEY"); }
    const std::string& ssh_config() const { return fact("WRENFIELD_TEST_SSH_CONFIG"); }
    const std::string& known_hosts() const { return fact("WRENFIELD_TEST_KNOWN_HOSTS"); }
    const std::string& directory() const { return fact("WRENFIELD_SSHD_DIR"); }
    // Where scratch directories go; the server sees the same files, being local.
    const std::string& scratch_root() const { return fact("WRENFIELD_TEST_SCRATCH"); }
    std::string log() const;

    // Runs `ssh ALIAS COMMAND` through the wrapper: a quick check from the outside.
    CommandResult ssh(const std::string& remote_command) const;

    // Stops the server now; later calls do nothing.
    void stop();

  private:
    LocalSshServer() = default;
    const std::string& fact(const std::string& name) const;

    std::unique_ptr<TemporaryDirectory> directory_;
    std::map<std::string, std::string> facts_;
    uint16_t port_ = 0;
    bool running_ = false;
};

// Base class for tests that talk to the shared server: each test gets HOME and PATH set for
// the server (put back afterwards), no SSH agent, and a fresh scratch directory.
class SshServerTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    LocalSshServer& server() { return *server_; }
    // A fresh, empty directory for this test, removed afterwards. Being on the same machine,
    // it is both the remote directory and a place to check results locally.
    const std::string& scratch() const { return scratch_->path(); }
    std::string scratch_path(std::string_view relative) const { return *scratch_ / relative; }

  private:
    LocalSshServer* server_ = nullptr;
    std::unique_ptr<TemporaryDirectory> scratch_;
    std::vector<std::unique_ptr<ScopedEnvironmentVariable>> environment_;
};

}  // namespace wrenfield::testing
