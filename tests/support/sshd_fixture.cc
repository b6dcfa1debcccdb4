#include "support/sshd_fixture.h"

#include <unistd.h>

#include <charconv>
#include <sstream>

namespace wrenfield::testing {

namespace {

const std::string sshd_script = std::string(WRENFIELD_SOURCE_DIR) + "/tests/support/sshd.sh";

// Undoes the backslash quoting of bash's printf %q, which is all that plain paths need.
std::string unquote(std::string_view value) {
    std::string result;
    for (size_t index = 0; index < value.size(); ++index) {
        if (value[index] == '\\' && index + 1 < value.size())
            ++index;
        result.push_back(value[index]);
    }
    return result;
}

std::map<std::string, std::string> parse_facts(const std::string& text) {
    std::map<std::string, std::string> facts;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        auto equals = line.find('=');
        if (equals == std::string::npos || line.compare(0, 10, "WRENFIELD_") != 0)
            continue;
        facts[line.substr(0, equals)] = unquote(std::string_view(line).substr(equals + 1));
    }
    return facts;
}

std::string& shared_start_error() {
    static std::string error;
    return error;
}

}  // namespace

LocalSshServer* LocalSshServer::shared() {
    static std::unique_ptr<LocalSshServer> server = start(&shared_start_error());
    return server.get();
}

const std::string& LocalSshServer::start_error() {
    return shared_start_error();
}

std::unique_ptr<LocalSshServer> LocalSshServer::start(std::string* error,
                                                      const std::string& login_user) {
    std::unique_ptr<LocalSshServer> server(new LocalSshServer());
    server->directory_ = std::make_unique<TemporaryDirectory>("wrenfield-sshd");
    if (server->directory_->path().empty()) {
        *error = "could not make a temporary directory for sshd";
        return nullptr;
    }
    std::vector<std::string> environment = {"WRENFIELD_SSHD_WATCH_PID=" +
                                            std::to_string(::getpid())};
    if (!login_user.empty())
        environment.push_back("WRENFIELD_SSHD_LOGIN_USER=" + login_user);
    CommandResult started = run_command({"bash", sshd_script, "start", server->directory_->path()},
                                        {}, std::chrono::seconds(60), environment);
    server->facts_ = parse_facts(started.output);
    // From here on the destructor stops whatever part of the server did start.
    server->running_ = true;
    const std::string& port_text = server->fact("WRENFIELD_SSHD_PORT");
    auto [end, failure] =
        std::from_chars(port_text.data(), port_text.data() + port_text.size(), server->port_);
    if (started.exit_code != 0 || failure != std::errc() || server->port_ == 0) {
        *error = "sshd.sh start failed (exit " + std::to_string(started.exit_code) +
                 "): " + started.error + started.output;
        return nullptr;
    }
    return server;
}

LocalSshServer::~LocalSshServer() {
    stop();
}

void LocalSshServer::stop() {
    if (!running_)
        return;
    running_ = false;
    run_command({"bash", sshd_script, "stop", directory_->path()}, {}, std::chrono::seconds(60));
}

const std::string& LocalSshServer::fact(const std::string& name) const {
    static const std::string missing;
    auto found = facts_.find(name);
    return found == facts_.end() ? missing : found->second;
}

std::string LocalSshServer::log() const {
    return read_file(directory_->path() + "/sshd.log").value_or("");
}

CommandResult LocalSshServer::ssh(const std::string& remote_command) const {
    return run_command(
        {directory_->path() + "/bin/ssh", "-o", "BatchMode=yes", host_alias(), remote_command}, {},
        std::chrono::seconds(60), {"HOME=" + home(), "SSH_AUTH_SOCK"});
}

void SshServerTest::SetUp() {
    server_ = LocalSshServer::shared();
    ASSERT_NE(server_, nullptr) << LocalSshServer::start_error();
    environment_.push_back(std::make_unique<ScopedEnvironmentVariable>("HOME", server_->home()));
    environment_.push_back(std::make_unique<ScopedEnvironmentVariable>("PATH", server_->path()));
    // An agent of the person running the tests would offer keys of its own.
    environment_.push_back(
        std::make_unique<ScopedEnvironmentVariable>("SSH_AUTH_SOCK", std::nullopt));
    scratch_ = std::make_unique<TemporaryDirectory>("test", server_->scratch_root());
    ASSERT_FALSE(scratch_->path().empty()) << "could not make a scratch directory";
}

void SshServerTest::TearDown() {
    scratch_.reset();
    // Put the variables back in the reverse order of setting them.
    while (!environment_.empty())
        environment_.pop_back();
}

}  // namespace wrenfield::testing
