#include "ssh/connection.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <optional>

#include "ssh/remote.h"
#include "support/fake_ssh.h"
#include "support/local_system.h"
#include "support/temp_home.h"

using namespace wrenfield;
using wrenfield::testing::FakeSsh;
using wrenfield::testing::ScopedEnvironmentVariable;
using wrenfield::testing::TemporaryHome;
using wrenfield::testing::write_file;
using Arguments = std::vector<std::string>;

namespace {

const Arguments kFixedOptions = {"ssh",
                                 "-o",
                                 "BatchMode=yes",
                                 "-o",
                                 "ConnectTimeout=10",
                                 "-o",
                                 "ControlMaster=auto",
                                 "-o",
                                 "ControlPath=",  // completed by fixed_options()
                                 "-o",
                                 "ControlPersist=10m",
                                 "-o",
                                 "ServerAliveInterval=15",
                                 "-o",
                                 "ServerAliveCountMax=3",
                                 "-o",
                                 "StrictHostKeyChecking=accept-new"};

Arguments fixed_options(const SshConnection& connection) {
    Arguments arguments = kFixedOptions;
    arguments[8] += connection.control_path;
    return arguments;
}

// The arguments after the fixed options.
Arguments tail(const SshConnection& connection) {
    const Arguments command = connection.ssh_command();
    return Arguments(command.begin() + static_cast<long>(kFixedOptions.size()), command.end());
}

// A host name no other test process uses, so that control paths never collide.
std::string unique_host(std::string_view name) {
    return std::string(name) + "-" + std::to_string(::getpid());
}

// Destroying a record runs `ssh -O exit`; a stand-in keeps the tests away from any real master
// that happens to use the same control path.
class SshConnectionTest : public ::testing::Test {
  protected:
    FakeSsh ssh;
};

}  // namespace

TEST(ControlPath, WorkedExamples) {
    EXPECT_EQ(control_path_for("buildbox", std::nullopt, std::nullopt, std::nullopt),
              "/tmp/wrenfield-5fe78d69a2494cec.sock");
    EXPECT_EQ(control_path_for("buildbox", 2222, std::nullopt, std::nullopt),
              "/tmp/wrenfield-f7f44563cbb3e46c.sock");
}

// The user and identity file enter the key in their quoted form: a quote, a backslash and a
// tab escaped, a non-ASCII letter as it is, an invisible character as \u{...}. The expected
// value comes from an independent SipHash-1-3 over the key text
//   a"b\c<TAB>dé@box:Some(22):Some("a\"b\\c\tdé"):Some("~/.ssh/k\u{200b}")
TEST(ControlPath, QuotedUserAndIdentityFileInTheKey) {
    const std::string user = "a\"b\\c\td\u00e9";
    EXPECT_EQ(control_path_for(user + "@box", 22, user, "~/.ssh/k\u200b"),
              "/tmp/wrenfield-f936b7c222dfba25.sock");
}

TEST_F(SshConnectionTest, NothingKnownGivesTheFixedOptionsAndTheHost) {
    TemporaryHome home;
    const SshConnection connection = SshConnection::create("buildbox");
    EXPECT_EQ(connection.destination, "buildbox");
    EXPECT_EQ(connection.control_path, "/tmp/wrenfield-5fe78d69a2494cec.sock");
    EXPECT_FALSE(connection.identities_only);
    EXPECT_EQ(connection.home_dir, "/");
    EXPECT_EQ(connection.remote_os, "Unknown");
    EXPECT_EQ(connection.remote_user, "");
    EXPECT_FALSE(connection.has_python);
    Arguments expected = fixed_options(connection);
    expected.push_back("buildbox");
    EXPECT_EQ(connection.ssh_command(), expected);
}

TEST_F(SshConnectionTest, PortIdentityFileAndUserGoIntoTheCommandLine) {
    TemporaryHome home;
    const SshConnection connection = SshConnection::create("box", 2222, "me", "~/.ssh/id");
    EXPECT_EQ(connection.destination, "me@box");
    // The record keeps "~/"; only the command line expands it.
    EXPECT_EQ(connection.identity_file, "~/.ssh/id");
    EXPECT_TRUE(connection.identities_only);
    EXPECT_EQ(tail(connection), (Arguments{"-p", "2222", "-i", home.path().string() + "/.ssh/id",
                                           "-o", "IdentitiesOnly=yes", "me@box"}));
    EXPECT_EQ(tail(SshConnection::create("box", 0)), (Arguments{"-p", "0", "box"}));
}

TEST_F(SshConnectionTest, IdentityFileExpansionIsPlainJoiningWithHome) {
    ScopedEnvironmentVariable home("HOME", "/h/");
    EXPECT_EQ(tail(SshConnection::create("box", std::nullopt, std::nullopt, "~/.ssh/k"))[1],
              "/h//.ssh/k");
    ScopedEnvironmentVariable plain_home("HOME", "/h");
    EXPECT_EQ(tail(SshConnection::create("box", std::nullopt, std::nullopt, "~/"))[1], "/h/");
    for (const char* unchanged : {"~", "~other/key", "/abs/key", "rel/~/key"}) {
        EXPECT_EQ(tail(SshConnection::create("box", std::nullopt, std::nullopt, unchanged))[1],
                  unchanged);
    }
}

TEST_F(SshConnectionTest, IdentityFileUnexpandedWhenHomeIsUnsetOrNotUtf8) {
    ScopedEnvironmentVariable unset("HOME", std::nullopt);
    EXPECT_EQ(tail(SshConnection::create("box", std::nullopt, std::nullopt, "~/.ssh/key")),
              (Arguments{"-i", "~/.ssh/key", "-o", "IdentitiesOnly=yes", "box"}));
    ScopedEnvironmentVariable not_utf8("HOME", "/h\xff");
    EXPECT_EQ(tail(SshConnection::create("box", std::nullopt, std::nullopt, "~/.ssh/key"))[1],
              "~/.ssh/key");
}

TEST_F(SshConnectionTest, ConfigurationEntryFillsWhatWasNotGiven) {
    TemporaryHome home;
    home.write(".ssh/config",
               "Host web\n  HostName 10.0.0.5\n  User deploy\n  Port 2200\n"
               "  IdentityFile /keys/deploy\n  IdentitiesOnly no\n"
               "Host strict\n  IdentitiesOnly yes\n");

    const SshConnection web = SshConnection::create("WEB");
    // The alias stays as typed: ssh resolves HostName itself.
    EXPECT_EQ(web.destination, "deploy@WEB");
    EXPECT_EQ(web.port, 2200);
    EXPECT_EQ(web.identity_file, "/keys/deploy");
    EXPECT_FALSE(web.identities_only);
    EXPECT_EQ(tail(web), (Arguments{"-p", "2200", "-i", "/keys/deploy", "deploy@WEB"}));

    const SshConnection given = SshConnection::create("web", 22, "root", "/keys/k");
    EXPECT_EQ(given.destination, "root@web");
    EXPECT_EQ(tail(given), (Arguments{"-p", "22", "-i", "/keys/k", "root@web"}));

    // IdentitiesOnly from the entry holds even without any identity file.
    EXPECT_EQ(tail(SshConnection::create("strict")),
              (Arguments{"-o", "IdentitiesOnly=yes", "strict"}));
}

// Destroying a record closes its master once: `ssh -O exit` on its socket, then the socket
// file goes. Moving hands that duty over instead of doubling it.
TEST_F(SshConnectionTest, DestroyingClosesTheMasterOnceAndRemovesTheSocket) {
    TemporaryHome home;
    std::string socket;
    {
        SshConnection first = SshConnection::create(unique_host("closing"));
        socket = first.control_path;
        ASSERT_TRUE(write_file(socket, ""));
        SshConnection second = std::move(first);
        SshConnection third = std::move(second);
        EXPECT_TRUE(ssh.calls().empty());
    }
    const auto calls = ssh.calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0],
              (Arguments{"-O", "exit", "-o", "ControlPath=" + socket, unique_host("closing")}));
    EXPECT_FALSE(std::filesystem::exists(socket));
}

TEST_F(SshConnectionTest, AssigningOverARecordClosesTheReplacedMaster) {
    TemporaryHome home;
    SshConnection kept = SshConnection::create(unique_host("old"));
    kept = SshConnection::create(unique_host("new"));
    ASSERT_EQ(ssh.calls().size(), 1u);
    EXPECT_EQ(ssh.calls()[0].back(), unique_host("old"));
    EXPECT_EQ(kept.destination, unique_host("new"));
}

// A borrowed copy runs through the record's master but never starts one, and leaves closing it
// to the record, also when it outlives the record.
TEST_F(SshConnectionTest, ABorrowedCopyNeverStartsOrClosesTheMaster) {
    TemporaryHome home;
    std::optional<SshConnection> record = SshConnection::create(unique_host("lent"), 2222);
    SshConnection borrowed = record->borrow();
    Arguments expected = record->ssh_command();
    expected[6] = "ControlMaster=no";
    EXPECT_EQ(borrowed.ssh_command(), expected);
    {
        SshConnection moved = std::move(borrowed);
        EXPECT_EQ(moved.ssh_command(), expected);
    }
    EXPECT_TRUE(ssh.calls().empty());
    record.reset();
    EXPECT_EQ(ssh.calls().size(), 1u);
}

// A destination that begins with "-" would be read by ssh as an option ("-oProxyCommand=..."
// runs a local command), so no ssh run ever receives it.
TEST_F(SshConnectionTest, DestinationReadAsAnOptionIsNeverHandedToSsh) {
    TemporaryHome home;
    const std::string marker = home.path().string() + "/ran";
    std::string socket;
    {
        SshConnection connection = SshConnection::create("-oProxyCommand=touch " + marker);
        EXPECT_FALSE(connection.has_safe_destination());
        auto result = connect_probe(connection);
        ASSERT_FALSE(result.has_value());
        EXPECT_EQ(result.error(), "Invalid SSH destination: -oProxyCommand=touch " + marker);
        EXPECT_EQ(connection.remote_os, "Unknown");

        EXPECT_EQ(list_remote_dir(connection, "/").error(), result.error());
        EXPECT_EQ(remote_write_file(connection, "/tmp/x", "data").error(), result.error());

        socket = connection.control_path;
        ASSERT_TRUE(write_file(socket, ""));
    }
    EXPECT_TRUE(ssh.calls().empty());
    EXPECT_FALSE(std::filesystem::exists(marker));
    // Closing still removes the socket file.
    EXPECT_FALSE(std::filesystem::exists(socket));

    // A user name that begins with "-" puts the "-" at the start of the destination too.
    SshConnection with_user = SshConnection::create("box", std::nullopt, "-oX=y");
    EXPECT_FALSE(with_user.has_safe_destination());
    EXPECT_TRUE(SshConnection::create("box-1", std::nullopt, "a-b").has_safe_destination());
}
