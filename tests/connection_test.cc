#include "ssh/connection.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <optional>
#include <sstream>

#include "ssh/remote.h"
#include "support/fake_ssh.h"
#include "support/local_system.h"
#include "support/temp_home.h"

using namespace wrenfield;
using wrenfield::testing::CommandResult;
using wrenfield::testing::FakeSsh;
using wrenfield::testing::ListeningSocket;
using wrenfield::testing::run_command;
using wrenfield::testing::ScopedEnvironmentVariable;
using wrenfield::testing::TemporaryHome;
using wrenfield::testing::write_file;
using Arguments = std::vector<std::string>;

namespace {

// A host name no other test process uses, so that control paths never collide.
std::string unique_host(std::string_view name) {
    return std::string(name) + "-" + std::to_string(::getpid());
}

// How many arguments every record's command starts with: those before the destination of a
// record with nothing given and no configuration.
size_t fixed_option_count() {
    TemporaryHome empty_home;
    return SshConnection::create(unique_host("fixed")).ssh_command().size() - 1;
}

// The arguments after the fixed options.
Arguments tail(const SshConnection& connection) {
    const Arguments command = connection.ssh_command();
    return Arguments(command.begin() + static_cast<long>(fixed_option_count()), command.end());
}

// The settings the real ssh client would connect with for the record's command, with no
// configuration file but the command line: `ssh -G` prints them as "name value" lines and
// connects nowhere. Names are lower case.
std::map<std::string, std::string> settings_ssh_reads(const SshConnection& connection) {
    Arguments command = connection.ssh_command();
    command.insert(command.begin() + 1, {"-F", "/dev/null", "-G"});
    const CommandResult result = run_command(command);
    EXPECT_EQ(result.exit_code, 0) << result.error;
    std::map<std::string, std::string> settings;
    std::istringstream lines(result.output);
    for (std::string line; std::getline(lines, line);) {
        const size_t space = line.find(' ');
        std::string name = line.substr(0, space);
        std::ranges::transform(name, name.begin(), [](unsigned char c) { return std::tolower(c); });
        // A setting given more than once (identityfile) keeps its first value: ours comes first.
        settings.emplace(name, space == std::string::npos ? "" : line.substr(space + 1));
    }
    return settings;
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

TEST_F(SshConnectionTest, NothingKnownGivesDefaultsAndTheHostAloneAfterTheFixedOptions) {
    TemporaryHome home;
    const SshConnection connection = SshConnection::create("buildbox");
    EXPECT_EQ(connection.destination, "buildbox");
    EXPECT_EQ(connection.control_path, "/tmp/wrenfield-5fe78d69a2494cec.sock");
    EXPECT_FALSE(connection.identities_only);
    EXPECT_EQ(connection.home_dir, "/");
    EXPECT_EQ(connection.remote_os, "Unknown");
    EXPECT_EQ(connection.remote_user, "");
    EXPECT_FALSE(connection.has_python);
    // The caller appends the remote command right after the destination.
    EXPECT_EQ(connection.ssh_command().front(), "ssh");
    EXPECT_EQ(connection.ssh_command().back(), "buildbox");
    EXPECT_EQ(tail(connection), Arguments{"buildbox"});
}

// What the real client makes of a record's command: no prompts; one master connection shared
// through the record's control socket and kept 10 minutes after its last use; 10 s to connect;
// a keep-alive every 15 s, given up after 3 unanswered; a new host key accepted, a changed one
// refused; and the port, user and identity file of the record, the identity file alone.
// (Not a SshConnectionTest: this needs the real ssh; the host is unique, so destroying the
// record closes no one else's master.)
TEST(SshCommand, TheRealClientReadsTheRecordsSettings) {
    TemporaryHome home;
    home.write(".ssh/id", "not a key");
    const SshConnection connection =
        SshConnection::create(unique_host("settings"), 2222, "me", "~/.ssh/id");
    auto settings = settings_ssh_reads(connection);
    EXPECT_EQ(settings["batchmode"], "yes");
    EXPECT_EQ(settings["controlmaster"], "auto");
    EXPECT_EQ(settings["controlpath"], connection.control_path);
    EXPECT_EQ(settings["controlpersist"], "600");
    EXPECT_EQ(settings["connecttimeout"], "10");
    EXPECT_EQ(settings["serveraliveinterval"], "15");
    EXPECT_EQ(settings["serveralivecountmax"], "3");
    EXPECT_EQ(settings["stricthostkeychecking"], "accept-new");
    EXPECT_EQ(settings["hostname"], unique_host("settings"));
    EXPECT_EQ(settings["user"], "me");
    EXPECT_EQ(settings["port"], "2222");
    EXPECT_EQ(settings["identityfile"], home.path().string() + "/.ssh/id");
    EXPECT_EQ(settings["identitiesonly"], "yes");

    settings = settings_ssh_reads(SshConnection::create(unique_host("plain")));
    EXPECT_EQ(settings["port"], "22");
    EXPECT_EQ(settings["identitiesonly"], "no");
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
    std::optional<ListeningSocket> master;
    {
        SshConnection first = SshConnection::create(unique_host("closing"));
        socket = first.control_path;
        master.emplace(socket);
        ASSERT_TRUE(master->bound());
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

// A borrowed copy runs through the record's master with the record's command line, and leaves
// closing it to the record, also when it outlives the record.
TEST_F(SshConnectionTest, ABorrowedCopyNeverClosesTheMaster) {
    TemporaryHome home;
    std::optional<SshConnection> record = SshConnection::create(unique_host("lent"), 2222);
    SshConnection borrowed = record->borrow();
    const Arguments expected = record->ssh_command();
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

// Every account may create files in /tmp, so another one could listen at the control path first
// and see every command and file sent through the master it pretends to be. Nothing is run
// through a control socket that is not this user's: not the probe, not a remote program, not a
// borrowed copy's run, and not the exit request when the record goes.
TEST_F(SshConnectionTest, AControlSocketOfAnotherAccountIsNeverUsed) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "making a socket of another account needs root";
    TemporaryHome home;
    std::optional<SshConnection> connection = SshConnection::create(unique_host("squatted"));
    const std::string path = connection->control_path;
    ListeningSocket squatter(path);
    ASSERT_TRUE(squatter.bound());
    ASSERT_EQ(::lchown(path.c_str(), 65534, 65534), 0);

    const auto probe = connect_probe(*connection);
    ASSERT_FALSE(probe.has_value());
    EXPECT_TRUE(
        probe.error().starts_with("Refusing the SSH control socket " + path + ": it belongs to "))
        << probe.error();
    EXPECT_TRUE(probe.error().ends_with("uid 65534), not to this user") ||
                probe.error().ends_with("uid 65534, not to this user"))
        << probe.error();
    EXPECT_EQ(list_remote_dir(*connection, "/").error(), probe.error());
    EXPECT_EQ(read_remote_file(*connection, "/etc/hostname").error().message, probe.error());
    EXPECT_EQ(remote_write_file(*connection, "/tmp/x", "data").error(), probe.error());
    EXPECT_EQ(list_remote_dir(connection->borrow(), "/").error(), probe.error());
    connection.reset();

    EXPECT_TRUE(ssh.calls().empty());
    EXPECT_FALSE(squatter.was_connected_to());
}

// Links are not followed: a link at the control path is refused even when it leads to a socket
// of this user, and so is anything else that is not a socket.
TEST_F(SshConnectionTest, OnlyASocketItselfIsTakenForTheControlSocket) {
    TemporaryHome home;
    SshConnection connection = SshConnection::create(unique_host("linked"));
    const std::string path = connection.control_path;
    const std::string target = home.path().string() + "/elsewhere.sock";
    ListeningSocket elsewhere(target);
    ASSERT_TRUE(elsewhere.bound());
    ASSERT_EQ(::symlink(target.c_str(), path.c_str()), 0);

    const auto probe = connect_probe(connection);
    ASSERT_FALSE(probe.has_value());
    EXPECT_TRUE(probe.error().starts_with("Refusing the SSH control socket " + path +
                                          ": it is a symbolic link (owned by "))
        << probe.error();
    EXPECT_FALSE(elsewhere.was_connected_to());

    ASSERT_EQ(::unlink(path.c_str()), 0);
    ASSERT_TRUE(write_file(path, ""));
    const auto file_probe = connect_probe(connection);
    ASSERT_FALSE(file_probe.has_value());
    EXPECT_TRUE(file_probe.error().starts_with("Refusing the SSH control socket " + path +
                                               ": it is not a socket"))
        << file_probe.error();
    EXPECT_TRUE(ssh.calls().empty());
}
