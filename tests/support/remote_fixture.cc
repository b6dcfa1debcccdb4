#include "support/remote_fixture.h"

#include <filesystem>

#include "support/local_system.h"

#include "ssh/process.h"
#include "ssh/remote.h"

namespace wrenfield::testing {

void RemoteServerTest::SetUp() {
    SshServerTest::SetUp();
    ignore_broken_pipe();
}

SshConnection RemoteServerTest::connect(const std::string& user) {
    const std::string& alias = server().host_alias();
    SshConnection connection = SshConnection::create(user.empty() ? alias : user + "@" + alias);
    auto probe = connect_probe(connection);
    EXPECT_TRUE(probe.has_value()) << probe.error() << server().log();
    return connection;
}

std::vector<std::string> RemoteServerTest::temporary_files(const std::string& directory) {
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        if (entry.path().filename().string().starts_with(".wrenfield-"))
            found.push_back(entry.path());
    }
    return found;
}

std::vector<pid_t> remote_interpreters(const std::string& marker) {
    std::vector<pid_t> found;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const std::string command_line = read_file(entry.path() / "cmdline").value_or("");
        const std::string program = command_line.substr(0, command_line.find('\0'));
        if (std::filesystem::path(program).filename().string().starts_with("python") &&
            command_line.find(marker) != std::string::npos) {
            found.push_back(std::stoi(name));
        }
    }
    return found;
}

}  // namespace wrenfield::testing
