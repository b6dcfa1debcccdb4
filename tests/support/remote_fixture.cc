#include "support/remote_fixture.h"

#include <filesystem>

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

}  // namespace wrenfield::testing
