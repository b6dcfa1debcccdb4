#include "bench_support.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "support/local_system.h"
#include "support/spawn.h"

namespace wrenfield::bench {

std::function<void()> undo_on_failure;

void fail(const std::string& message) {
    std::fprintf(stderr, "%s: %s\n", program_invocation_short_name, message.c_str());
    if (auto undo = std::exchange(undo_on_failure, nullptr))
        undo();
    std::exit(1);
}

std::string checked_output(const std::vector<std::string>& arguments, std::string_view input) {
    testing::CommandResult result = testing::run_command(arguments, input, std::chrono::minutes(5));
    if (result.exit_code != 0)
        fail(arguments[0] + " failed: " + result.error + result.output);
    return result.output;
}

std::string prepare_account(const std::string& account, bool& created) {
    created = false;
    if (::getpwnam(account.c_str()) == nullptr) {
        checked_output({"useradd", "--create-home", "--shell", "/bin/sh", account});
        created = true;
    }
    // A new account is locked (no password at all), and without PAM sshd refuses a locked
    // account even for a key; "*" is "no password can match" without the lock.
    checked_output({"usermod", "--password", "*", account});
    const passwd* entry = ::getpwnam(account.c_str());
    if (entry == nullptr)
        fail("no account " + account + " after useradd");
    return entry->pw_dir;
}

testing::LocalSshServer& use_shared_server() {
    testing::LocalSshServer* server = testing::LocalSshServer::shared();
    if (server == nullptr)
        fail("the local sshd did not start: " + testing::LocalSshServer::start_error());
    ::setenv("HOME", server->home().c_str(), 1);
    ::setenv("PATH", server->path().c_str(), 1);
    ::unsetenv("SSH_AUTH_SOCK");
    return *server;
}

AccountServer start_account_server(const std::string& account) {
    if (::geteuid() != 0)
        fail("run as root: the benchmark makes its own test account with useradd");
    AccountServer started;
    started.home = prepare_account(account, started.created_account);
    std::string error;
    started.server = testing::LocalSshServer::start(&error, account);
    if (!started.server) {
        if (started.created_account)
            testing::run_command({"userdel", "--remove", account});
        fail(error);
    }
    return started;
}

void authorize_key(const std::string& account, const std::string& home,
                   const testing::LocalSshServer& server, const std::string& key_options) {
    auto key = testing::read_file(server.key_path() + ".pub");
    std::string line = key_options.empty() ? std::string() : key_options + " ";
    if (!key || !testing::write_file(home + "/.ssh/authorized_keys", line + *key))
        fail("cannot write " + home + "/.ssh/authorized_keys");
    checked_output({"chown", "-R", account + ":", home + "/.ssh"});
    ::chmod((home + "/.ssh").c_str(), 0700);
    ::chmod((home + "/.ssh/authorized_keys").c_str(), 0600);
}

void run_bare(const std::vector<std::string>& arguments, std::string_view input_block,
              size_t input_size) {
    auto spawned = testing::spawn_process(arguments, std::nullopt, ChildInput::Pipe);
    if (!spawned)
        fail(spawned.error());
    size_t written = 0;
    if (input_size == 0)
        spawned->input.reset();
    std::string buffer(1 << 20, '\0');
    std::string error_text;
    while (spawned->output || spawned->error || spawned->input) {
        pollfd watched[3];
        int count = 0;
        for (testing::UniqueFd* fd : {&spawned->output, &spawned->error}) {
            if (*fd)
                watched[count++] = {fd->get(), POLLIN, 0};
        }
        if (spawned->input)
            watched[count++] = {spawned->input.get(), POLLOUT, 0};
        if (::poll(watched, count, -1) < 0)
            continue;
        for (int index = 0; index < count; ++index) {
            if (watched[index].revents == 0)
                continue;
            int fd = watched[index].fd;
            if (spawned->input && fd == spawned->input.get()) {
                size_t offset = written % input_block.size();
                size_t chunk = std::min(input_block.size() - offset, input_size - written);
                ssize_t sent = ::write(fd, input_block.data() + offset, chunk);
                if (sent > 0)
                    written += static_cast<size_t>(sent);
                if (sent < 0 || written == input_size)
                    spawned->input.reset();
                continue;
            }
            ssize_t got = ::read(fd, buffer.data(), buffer.size());
            if (got <= 0) {
                (fd == spawned->output.get() ? spawned->output : spawned->error).reset();
            } else if (fd == spawned->error.get()) {
                error_text.append(buffer.data(), static_cast<size_t>(got));
            }
        }
    }
    int status = 0;
    ::waitpid(spawned->pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        fail("bare run failed: " + error_text);
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

long status_kib(pid_t pid, const char* field) {
    auto status = testing::read_file("/proc/" + std::to_string(pid) + "/status").value_or("");
    auto at = status.find(std::string(field) + ":");
    return at == std::string::npos
               ? -1
               : std::strtol(status.c_str() + at + std::strlen(field) + 1, nullptr, 10);
}

void reset_peak(pid_t pid) {
    if (!testing::write_file("/proc/" + std::to_string(pid) + "/clear_refs", "5"))
        fail("cannot reset the peak memory of the program");
}

int connect_to(uint16_t port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        fail("cannot connect to the program");
    return fd;
}

bool send_all(int fd, const char* data, size_t length) {
    while (length > 0) {
        ssize_t sent = ::send(fd, data, length, MSG_NOSIGNAL);
        if (sent <= 0)
            return false;
        data += sent;
        length -= static_cast<size_t>(sent);
    }
    return true;
}

}  // namespace wrenfield::bench
