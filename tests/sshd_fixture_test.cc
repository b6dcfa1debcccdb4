#include "support/sshd_fixture.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

using namespace wrenfield::testing;

namespace {

class LocalSshServerTest : public SshServerTest {};

// Both aliases reach the server through the wrapper first on PATH, without any option of ours:
// exactly how the program runs `ssh`.
TEST_F(LocalSshServerTest, AliasesWorkThroughTheWrapperOnPath) {
    for (const std::string& alias : {server().host_alias(), server().second_host_alias()}) {
        CommandResult result = run_command({"ssh", "-o", "BatchMode=yes", alias, "echo", "ok"});
        EXPECT_EQ(result.exit_code, 0) << alias << ": " << result.error << server().log();
        EXPECT_EQ(result.output, "ok\n") << alias;
    }
}

TEST_F(LocalSshServerTest, EnvironmentPointsAtTheServerHome) {
    EXPECT_EQ(std::getenv("HOME"), server().home());
    EXPECT_EQ(std::string(std::getenv("PATH")).rfind(server().directory() + "/bin:", 0), 0u);
    EXPECT_TRUE(std::filesystem::exists(server().home() + "/.ssh/id_ed25519"));
    EXPECT_TRUE(std::filesystem::exists(server().home() + "/.ssh/id_ed25519.pub"));
    EXPECT_EQ(server().key_path(), server().home() + "/.ssh/id_ed25519");
    auto config = read_file(server().ssh_config());
    ASSERT_TRUE(config.has_value());
    EXPECT_NE(config->find("Host " + server().host_alias() + "\n"), std::string::npos);
    EXPECT_NE(config->find("Port " + std::to_string(server().port())), std::string::npos);
}

// The scratch directory is the remote directory too: what the test writes, the server sees.
TEST_F(LocalSshServerTest, ScratchDirectoryIsSharedWithTheServer) {
    ASSERT_TRUE(write_file(scratch_path("a b/file.txt"), "content"));
    CommandResult result = server().ssh("cat '" + scratch_path("a b/file.txt") + "'");
    EXPECT_EQ(result.exit_code, 0) << result.error;
    EXPECT_EQ(result.output, "content");
}

TEST_F(LocalSshServerTest, EachTestGetsAnEmptyScratchDirectory) {
    EXPECT_TRUE(std::filesystem::is_empty(scratch()));
    ASSERT_TRUE(write_file(scratch_path("left-over"), "x"));
}

// A master connection made through a control socket of the program's naming is closed, and
// its socket removed, when the server stops; another server's master is left alone.
TEST(LocalSshServerStop, ClosesOnlyItsOwnMasters) {
    std::string error;
    auto first = LocalSshServer::start(&error);
    ASSERT_NE(first, nullptr) << error;
    auto second = LocalSshServer::start(&error);
    ASSERT_NE(second, nullptr) << error;

    auto open_master = [](LocalSshServer& server, const std::string& socket) {
        return run_command(
            {server.directory() + "/bin/ssh", "-o", "BatchMode=yes", "-o", "ControlMaster=auto",
             "-o", "ControlPath=" + socket, "-o", "ControlPersist=60", server.host_alias(), "true"},
            {}, std::chrono::seconds(30), {"HOME=" + server.home()});
    };
    auto master_alive = [](const std::string& socket) {
        return run_command({"/usr/bin/ssh", "-F", "/dev/null", "-o", "ControlPath=" + socket, "-O",
                            "check", "placeholder"})
                   .exit_code == 0;
    };
    std::string first_socket = "/tmp/wrenfield-fixture-" + std::to_string(first->port()) + ".sock";
    std::string second_socket =
        "/tmp/wrenfield-fixture-" + std::to_string(second->port()) + ".sock";
    ASSERT_EQ(open_master(*first, first_socket).exit_code, 0);
    ASSERT_EQ(open_master(*second, second_socket).exit_code, 0);
    ASSERT_TRUE(master_alive(first_socket));
    ASSERT_TRUE(master_alive(second_socket));

    first->stop();
    EXPECT_FALSE(std::filesystem::exists(first_socket));
    EXPECT_TRUE(master_alive(second_socket));
    EXPECT_NE(
        run_command({"bash", "-c", "exec 3<>/dev/tcp/127.0.0.1/$0", std::to_string(first->port())})
            .exit_code,
        0)
        << "the first server still accepts connections";

    second->stop();
    EXPECT_FALSE(std::filesystem::exists(second_socket));
}

TEST(LocalSshServerLogin, RefusesAnUnknownKey) {
    LocalSshServer* server = LocalSshServer::shared();
    ASSERT_NE(server, nullptr) << LocalSshServer::start_error();
    TemporaryDirectory keys;
    ASSERT_EQ(run_command({"ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", keys / "other"})
                  .exit_code,
              0);
    // Without the alias's configuration, so that only the other key is offered.
    CommandResult result = run_command(
        {"/usr/bin/ssh", "-F", "/dev/null", "-o", "BatchMode=yes", "-o", "IdentitiesOnly=yes", "-o",
         "UserKnownHostsFile=" + server->known_hosts(), "-p", std::to_string(server->port()), "-i",
         keys / "other", server->user() + "@127.0.0.1", "true"},
        {}, std::chrono::seconds(30), {"SSH_AUTH_SOCK"});
    EXPECT_EQ(result.exit_code, 255);
    EXPECT_NE(result.error.find("Permission denied"), std::string::npos) << result.error;
}

}  // namespace
