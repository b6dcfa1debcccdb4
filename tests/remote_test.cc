// The remote operations against a real OpenSSH server on 127.0.0.1. The scratch directory is
// local and remote at once, so results are checked straight on the file system.
#include "ssh/remote.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <filesystem>

#include "base/base64.h"
#include "base/text.h"
#include "ssh/process.h"
#include "ssh/remote_programs.h"
#include "support/held_port.h"
#include "support/read_refusal.h"
#include "support/remote_fixture.h"

using namespace wrenfield;
using wrenfield::testing::CommandResult;
using wrenfield::testing::expect_too_large;
using wrenfield::testing::read_file;
using wrenfield::testing::run_command;
using wrenfield::testing::write_file;
namespace fs = std::filesystem;

namespace {

// A name holding what a shell or a quoting layer could trip over.
const std::string kAwkwardName = "it's \"q\" $HOME `id` \\ a\nb \u00e9\u6587";

class RemoteTest : public wrenfield::testing::RemoteServerTest {
  protected:
    std::vector<std::string> names(const std::vector<FileItem>& items) {
        std::vector<std::string> result;
        for (const FileItem& item : items)
            result.push_back(item.name);
        return result;
    }
};

mode_t mode_of(const std::string& path) {
    struct stat status {};
    ::lstat(path.c_str(), &status);
    return status.st_mode & 07777;
}

}  // namespace

TEST_F(RemoteTest, ProbeLearnsTheRemoteFacts) {
    SshConnection connection = SshConnection::create(server().host_alias());
    auto probe = connect_probe(connection);
    ASSERT_TRUE(probe.has_value()) << probe.error();
    const std::string uname = run_command({"uname", "-s", "-r", "-m"}).output;
    const std::string login = run_command({"id", "-un"}).output;
    const std::string login_home = server().ssh("pwd").output;

    EXPECT_EQ(probe->host, server().user() + "@" + server().host_alias());
    EXPECT_EQ(probe->user + "\n", login);
    EXPECT_EQ(probe->home_dir + "\n", login_home);
    EXPECT_EQ(probe->remote_os + "\n", uname);
    EXPECT_TRUE(probe->has_python);
    EXPECT_EQ(probe->identity_file, server().key_path());
    EXPECT_EQ(connection.remote_os, probe->remote_os);
    EXPECT_EQ(connection.home_dir, probe->home_dir);
    EXPECT_EQ(connection.remote_user, probe->user);
    EXPECT_TRUE(connection.has_python);
    // The probe left a master behind for the operations that follow.
    EXPECT_TRUE(fs::exists(connection.control_path));
}

TEST_F(RemoteTest, ProbeOfAClosedPortFailsWithTheClientMessage) {
    // Bound but not listening: connections are refused, and no parallel test can take the port.
    wrenfield::testing::HeldPort closed(0, wrenfield::testing::HeldPort::Listening::No);
    ASSERT_TRUE(closed.held());
    SshConnection connection = SshConnection::create("127.0.0.1", closed.port(), server().user());
    auto probe = connect_probe(connection);
    ASSERT_FALSE(probe.has_value());
    EXPECT_NE(probe.error().find("Connection refused"), std::string::npos) << probe.error();
    EXPECT_EQ(probe.error(), std::string(trim_whitespace(probe.error())));
    EXPECT_EQ(connection.remote_os, "Unknown");
    EXPECT_EQ(connection.home_dir, "/");
    EXPECT_FALSE(fs::exists(connection.control_path));
}

TEST_F(RemoteTest, ProbeWithAKeyTheServerRefusesFails) {
    const std::string key = scratch_path("other_key");
    ASSERT_EQ(run_command({"ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", key}).exit_code, 0);
    SshConnection connection =
        SshConnection::create("127.0.0.1", server().port(), server().user(), key);
    auto probe = connect_probe(connection);
    ASSERT_FALSE(probe.has_value());
    EXPECT_NE(probe.error().find("Permission denied"), std::string::npos) << probe.error();
    EXPECT_FALSE(connection.has_python);
}

TEST_F(RemoteTest, ListingPutsDirectoriesFirstAndFillsEveryField) {
    SshConnection connection = connect();
    const std::string root = scratch();
    fs::create_directories(root + "/z");
    fs::create_directories(root + "/B");
    fs::create_directories(root + "/.hidden_dir");
    fs::create_directories(root + "/empty");
    ASSERT_TRUE(write_file(root + "/a", "12345"));
    ASSERT_TRUE(write_file(root + "/C", ""));
    ASSERT_TRUE(write_file(root + "/.dot", "x"));
    fs::create_directory_symlink(root + "/z", root + "/link");
    fs::create_symlink(root + "/a", root + "/link-file");
    fs::create_symlink(root + "/gone", root + "/link-gone");
    ::chmod((root + "/a").c_str(), 0640);

    auto items = list_remote_dir(connection, root);
    ASSERT_TRUE(items.has_value()) << items.error();
    EXPECT_EQ(names(*items),
              (std::vector<std::string>{".hidden_dir", "B", "empty", "z", ".dot", "a", "C", "link",
                                        "link-file", "link-gone"}));
    const FileItem& a = (*items)[5];
    EXPECT_EQ(a.path, root + "/a");
    EXPECT_FALSE(a.is_dir);
    EXPECT_FALSE(a.is_symlink);
    EXPECT_EQ(a.size, 5u);
    EXPECT_EQ(a.permissions, "-rw-r-----");
    EXPECT_FALSE(a.is_hidden);
    struct stat status {};
    ::stat((root + "/a").c_str(), &status);
    EXPECT_EQ(a.modified, status.st_mtime);

    const FileItem& z = (*items)[3];
    EXPECT_TRUE(z.is_dir);
    EXPECT_EQ(z.size, 0u);
    EXPECT_EQ(z.permissions[0], 'd');
    EXPECT_TRUE((*items)[0].is_hidden);
    EXPECT_TRUE((*items)[4].is_hidden);

    // A link to a directory is listed as the link itself, among the files.
    const FileItem& link = (*items)[7];
    EXPECT_FALSE(link.is_dir);
    EXPECT_TRUE(link.is_symlink);
    EXPECT_EQ(link.size, (root + "/z").size());
    EXPECT_EQ(link.permissions, "lrwxrwxrwx");
    // Only a link whose target is a directory is said to lead to one.
    EXPECT_TRUE(link.link_to_dir);
    EXPECT_TRUE((*items)[8].is_symlink);
    EXPECT_FALSE((*items)[8].link_to_dir);
    EXPECT_TRUE((*items)[9].is_symlink);
    EXPECT_FALSE((*items)[9].link_to_dir);
    EXPECT_FALSE(z.link_to_dir);

    // The same listing with a trailing "/" joins the paths with one "/".
    auto again = list_remote_dir(connection, root + "/");
    ASSERT_TRUE(again.has_value());
    EXPECT_EQ((*again)[5].path, root + "/a");

    auto empty = list_remote_dir(connection, root + "/empty");
    ASSERT_TRUE(empty.has_value());
    EXPECT_TRUE(empty->empty());
}

TEST_F(RemoteTest, ListingOfRootAndOfHome) {
    SshConnection connection = connect();
    auto root = list_remote_dir(connection, "/");
    ASSERT_TRUE(root.has_value()) << root.error();
    bool found_tmp = false;
    for (const FileItem& item : *root) {
        EXPECT_EQ(item.path, "/" + item.name);
        found_tmp |= item.name == "tmp" && item.is_dir;
    }
    EXPECT_TRUE(found_tmp);

    // An empty path and "~" both mean the login directory the probe learnt.
    auto home = list_remote_dir(connection, connection.home_dir);
    ASSERT_TRUE(home.has_value()) << home.error();
    for (const char* path : {"", "~"}) {
        auto listed = list_remote_dir(connection, path);
        ASSERT_TRUE(listed.has_value()) << listed.error();
        EXPECT_EQ(names(*listed), names(*home));
    }
}

TEST_F(RemoteTest, ListingFailuresCarryThePythonExceptionText) {
    SshConnection connection = connect();
    const std::string missing = scratch_path("missing");
    EXPECT_EQ(list_remote_dir(connection, missing).error(),
              "[Errno 2] No such file or directory: '" + missing + "'");
    ASSERT_TRUE(write_file(scratch_path("file"), "x"));
    EXPECT_EQ(list_remote_dir(connection, scratch_path("file")).error(),
              "[Errno 20] Not a directory: '" + scratch_path("file") + "'");
}

TEST_F(RemoteTest, AwkwardPathsTravelIntact) {
    SshConnection connection = connect();
    const std::string directory = scratch_path(kAwkwardName);
    ASSERT_TRUE(remote_mkdir(connection, directory + "/sub").has_value());
    EXPECT_TRUE(fs::is_directory(directory + "/sub"));

    const std::string file = directory + "/" + kAwkwardName + ".txt";
    ASSERT_TRUE(remote_write_file(connection, file, "content").has_value());
    EXPECT_EQ(read_file(file), "content");

    auto items = list_remote_dir(connection, directory);
    ASSERT_TRUE(items.has_value()) << items.error();
    ASSERT_EQ(items->size(), 2u);
    EXPECT_EQ((*items)[1].name, kAwkwardName + ".txt");
    EXPECT_EQ((*items)[1].path, file);

    auto read = read_remote_file(connection, file);
    ASSERT_TRUE(read.has_value()) << read.error().message;
    EXPECT_EQ(read->content, "content");
    EXPECT_EQ(read->path, file);

    const std::string renamed = directory + "/$other `name`";
    ASSERT_TRUE(remote_rename(connection, file, renamed).has_value());
    EXPECT_EQ(read_file(renamed), "content");
    ASSERT_TRUE(remote_delete(connection, renamed, RemoteEntry::File).has_value());
    ASSERT_TRUE(remote_delete(connection, directory, RemoteEntry::Directory).has_value());
    EXPECT_FALSE(fs::exists(directory));
}

TEST_F(RemoteTest, ReadingTellsTextFromBinaryAndDownloadKeepsTheBytes) {
    SshConnection connection = connect();
    const std::string text =
        "\xef\xbb\xbf"
        "caf\xc3\xa9 \xe6\x96\x87" +
        std::string("\0x", 2);
    ASSERT_TRUE(write_file(scratch_path("text"), text));
    auto read = read_remote_file(connection, scratch_path("text"));
    ASSERT_TRUE(read.has_value()) << read.error().message;
    EXPECT_EQ(read->content, text);
    EXPECT_FALSE(read->is_binary);
    EXPECT_EQ(read->size, text.size());

    // One Latin-1 byte makes the whole file binary.
    const std::string latin1 = "caf\xe9";
    ASSERT_TRUE(write_file(scratch_path("latin1"), latin1));
    auto binary = read_remote_file(connection, scratch_path("latin1"));
    ASSERT_TRUE(binary.has_value());
    EXPECT_TRUE(binary->is_binary);
    EXPECT_EQ(binary->content, "Y2Fm6Q==");
    EXPECT_EQ(binary->size, 4u);
    EXPECT_EQ(remote_download(connection, scratch_path("latin1")), latin1);

    ASSERT_TRUE(write_file(scratch_path("empty"), ""));
    auto empty = read_remote_file(connection, scratch_path("empty"));
    ASSERT_TRUE(empty.has_value());
    EXPECT_EQ(empty->content, "");
    EXPECT_FALSE(empty->is_binary);
    EXPECT_EQ(empty->size, 0u);
    EXPECT_EQ(remote_download(connection, scratch_path("empty")), "");

    EXPECT_EQ(read_remote_file(connection, scratch_path("missing")).error().message,
              "[Errno 2] No such file or directory: '" + scratch_path("missing") + "'");
    EXPECT_EQ(remote_download(connection, scratch()).error(),
              "[Errno 21] Is a directory: '" + scratch() + "'");
}

// Only files that end are read: pipes, devices and sockets are refused before they are opened
// (opening a pipe waits for a writer), by the viewer's read and the download alike, while /proc
// files, which report a size of 0, are read to their end. The viewer's read refuses a file over
// its bound from the size alone; a download takes any size.
TEST_F(RemoteTest, ReadsTakeOnlyFilesThatEnd) {
    SshConnection connection = connect();
    const std::string fifo = scratch_path("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    const std::string socket_path = scratch_path("socket");
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(socket_path.size(), sizeof address.sun_path);
    socket_path.copy(address.sun_path, socket_path.size());
    const int socket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    for (const std::string& path : {fifo, socket_path, std::string("/dev/zero")}) {
        EXPECT_EQ(read_remote_file(connection, path).error().message,
                  "Not a regular file: " + path);
        EXPECT_EQ(remote_download(connection, path).error(), "Not a regular file: " + path);
    }
    ::close(socket);
    auto status = read_remote_file(connection, "/proc/self/status");
    ASSERT_TRUE(status.has_value()) << status.error().message;
    EXPECT_NE(status->content.find("\nPid:"), std::string::npos);

    const auto sparse_file = [this](const std::string& name, uint64_t size) {
        const std::string path = scratch_path(name);
        EXPECT_TRUE(write_file(path, ""));
        fs::resize_file(path, size);
        return path;
    };
    expect_too_large(read_remote_file(connection, sparse_file("huge", 1288490189)), read_size_limit,
                     1288490189);
    // The bound is the caller's; a small one keeps the files small.
    constexpr uint64_t limit = 64 << 10;
    const std::string over = sparse_file("over", limit + 1);
    expect_too_large(read_remote_file(connection, over, nullptr, limit), limit, limit + 1);
    EXPECT_EQ(remote_download(connection, over).value_or("").size(), limit + 1);
    auto at_limit = read_remote_file(connection, sparse_file("at-limit", limit), nullptr, limit);
    ASSERT_TRUE(at_limit.has_value()) << at_limit.error().message;
    EXPECT_EQ(at_limit->size, limit);
}

TEST_F(RemoteTest, MakeDirectoryDeleteAndRename) {
    SshConnection connection = connect();
    const std::string nested = scratch_path("p/q/r");
    ASSERT_TRUE(remote_mkdir(connection, nested).has_value());
    EXPECT_TRUE(fs::is_directory(nested));
    EXPECT_TRUE(remote_mkdir(connection, nested).has_value());
    ASSERT_TRUE(write_file(scratch_path("file"), "old"));
    EXPECT_EQ(remote_mkdir(connection, scratch_path("file")).error(),
              "[Errno 17] File exists: '" + scratch_path("file") + "'");
    // Asked to refuse, an existing directory is refused too; a new one is made with its
    // missing parents.
    EXPECT_EQ(remote_mkdir(connection, nested, Existing::Refuse).error(),
              "[Errno 17] File exists: '" + nested + "'");
    EXPECT_EQ(remote_mkdir(connection, scratch_path("file"), Existing::Refuse).error(),
              "[Errno 17] File exists: '" + scratch_path("file") + "'");
    ASSERT_TRUE(remote_mkdir(connection, scratch_path("s/t"), Existing::Refuse).has_value());
    EXPECT_TRUE(fs::is_directory(scratch_path("s/t")));

    // Delete checks the kind of what it removes.
    EXPECT_EQ(remote_delete(connection, scratch_path("p"), RemoteEntry::File).error(),
              "[Errno 21] Is a directory: '" + scratch_path("p") + "'");
    EXPECT_EQ(remote_delete(connection, scratch_path("file"), RemoteEntry::Directory).error(),
              "[Errno 20] Not a directory: '" + scratch_path("file") + "'");
    fs::create_directory_symlink(scratch_path("p"), scratch_path("link"));
    auto through_link = remote_delete(connection, scratch_path("link"), RemoteEntry::Directory);
    EXPECT_FALSE(through_link.has_value());
    EXPECT_TRUE(fs::is_directory(nested));
    ASSERT_TRUE(remote_delete(connection, scratch_path("link"), RemoteEntry::File).has_value());
    EXPECT_FALSE(fs::exists(fs::symlink_status(scratch_path("link"))));
    EXPECT_TRUE(fs::is_directory(nested));
    ASSERT_TRUE(remote_delete(connection, scratch_path("p"), RemoteEntry::Directory).has_value());
    EXPECT_FALSE(fs::exists(scratch_path("p")));

    // Rename replaces an existing file.
    ASSERT_TRUE(write_file(scratch_path("new"), "new"));
    ASSERT_TRUE(remote_rename(connection, scratch_path("new"), scratch_path("file")).has_value());
    EXPECT_EQ(read_file(scratch_path("file")), "new");
    EXPECT_FALSE(fs::exists(scratch_path("new")));
    EXPECT_EQ(remote_rename(connection, scratch_path("gone"), scratch_path("x")).error(),
              "[Errno 2] No such file or directory: '" + scratch_path("gone") + "' -> '" +
                  scratch_path("x") + "'");
}

TEST_F(RemoteTest, WriteCreatesReplacesAndEmptiesFiles) {
    SshConnection connection = connect();
    const std::string file = scratch_path("file");
    ASSERT_TRUE(remote_write_file(connection, file, "first").has_value());
    EXPECT_EQ(read_file(file), "first");
    // A new file gets the permissions of any file the remote shell creates.
    server().ssh("touch '" + scratch_path("touched") + "'");
    EXPECT_EQ(mode_of(file), mode_of(scratch_path("touched")));

    std::string binary(5 * 1024 * 1024 + 3, '\0');
    for (size_t i = 0; i < binary.size(); ++i)
        binary[i] = static_cast<char>(i * 31 + (i >> 12));
    ASSERT_TRUE(remote_write_file(connection, file, binary).has_value());
    EXPECT_TRUE(read_file(file) == binary);
    EXPECT_TRUE(remote_download(connection, file) == binary);

    ASSERT_TRUE(remote_write_file(connection, file, "").has_value());
    EXPECT_EQ(read_file(file), "");
    EXPECT_TRUE(temporary_files(scratch()).empty());
}

TEST_F(RemoteTest, WriteKeepsSymlinkPermissionsAndHardLinks) {
    SshConnection connection = connect();
    fs::create_directories(scratch_path("real"));
    const std::string target = scratch_path("real/target");
    ASSERT_TRUE(write_file(target, "old"));
    ::chmod(target.c_str(), 0604);
    fs::create_symlink(target, scratch_path("link"));

    ASSERT_TRUE(remote_write_file(connection, scratch_path("link"), "through link").has_value());
    EXPECT_TRUE(fs::is_symlink(scratch_path("link")));
    EXPECT_EQ(read_file(target), "through link");
    EXPECT_EQ(mode_of(target), 0604);
    EXPECT_TRUE(temporary_files(scratch_path("real")).empty());

    // Two names of one file stay one file.
    fs::create_hard_link(target, scratch_path("hard"));
    ASSERT_TRUE(remote_write_file(connection, scratch_path("hard"), "both").has_value());
    EXPECT_EQ(read_file(target), "both");
    EXPECT_EQ(fs::hard_link_count(target), 2u);
    ASSERT_TRUE(remote_write_file(connection, target, "shorter").has_value());
    EXPECT_EQ(read_file(scratch_path("hard")), "shorter");
}

TEST_F(RemoteTest, WriteFailuresLeaveEverythingAsItWas) {
    SshConnection connection = connect();
    const std::string missing = scratch_path("missing/file");
    EXPECT_EQ(remote_write_file(connection, missing, "data").error(),
              "[Errno 2] No such file or directory: '" + missing + "'");
    EXPECT_FALSE(fs::exists(scratch_path("missing")));
    EXPECT_EQ(remote_write_file(connection, scratch(), "data").error(),
              "[Errno 21] Is a directory: '" + scratch() + "'");

    // Names that a plain open refuses are refused with its error, naming the path as given:
    // a trailing "/" never names a file, and ".." only climbs out of a directory that exists.
    const auto write_error = [&](const std::string& path) {
        auto written = remote_write_file(connection, path, "new");
        return written ? std::string("(written)") : written.error();
    };
    const std::string file = scratch_path("file");
    ASSERT_TRUE(write_file(file, "old"));
    EXPECT_EQ(write_error(file + "/"), "[Errno 21] Is a directory: '" + file + "/'");
    EXPECT_EQ(write_error(scratch_path("new/")),
              "[Errno 21] Is a directory: '" + scratch_path("new/") + "'");
    EXPECT_EQ(write_error(scratch_path("missing/../file")),
              "[Errno 2] No such file or directory: '" + scratch_path("missing/../file") + "'");
    EXPECT_EQ(write_error(""), "[Errno 2] No such file or directory: ''");
    fs::create_symlink("new/", scratch_path("to_new"));
    EXPECT_EQ(write_error(scratch_path("to_new")),
              "[Errno 21] Is a directory: '" + scratch_path("to_new") + "'");
    fs::create_directory_symlink(scratch(), scratch_path("linked"));
    fs::create_symlink("loop", scratch_path("loop"));
    EXPECT_EQ(
        write_error(scratch_path("linked/loop")),
        "[Errno 40] Too many levels of symbolic links: '" + scratch_path("linked/loop") + "'");
    EXPECT_EQ(read_file(file), "old");
    EXPECT_FALSE(fs::exists(scratch_path("new")));
    EXPECT_TRUE(temporary_files(scratch()).empty());
}

// A stream cut short (the count announced is more than what arrives) is refused before
// anything is replaced.
TEST_F(RemoteTest, CutStreamLeavesTheOldContent) {
    SshConnection connection = connect();
    const std::string file = scratch_path("file");
    ASSERT_TRUE(write_file(file, "precious"));
    for (const auto& [announced, sent] :
         {std::pair<size_t, std::string>{10, "short"}, {3, "too long"}}) {
        std::vector<std::string> command = connection.ssh_command();
        command.push_back(remote_programs::fill_program(
            remote_programs::kWrite, {base64_encode(file), std::to_string(announced), "False"}));
        auto run = run_captured(command, sent);
        ASSERT_TRUE(run.has_value());
        EXPECT_EQ(run->status.code, 1);
        EXPECT_NE(run->error_output.find("Upload incomplete"), std::string::npos)
            << run->error_output;
        EXPECT_EQ(read_file(file), "precious");
        EXPECT_TRUE(temporary_files(scratch()).empty());
    }

    // The same holds in place, for a file with a second name.
    fs::create_hard_link(file, scratch_path("second"));
    std::vector<std::string> command = connection.ssh_command();
    command.push_back(remote_programs::fill_program(remote_programs::kWrite,
                                                    {base64_encode(file), "100", "False"}));
    auto run = run_captured(command, "short");
    ASSERT_TRUE(run.has_value());
    EXPECT_EQ(run->status.code, 1);
    EXPECT_EQ(read_file(file), "precious");
}

// Where no new file may be made in the directory but the file itself is writable, the file
// is rewritten in place. An immutable directory stands in for one without write permission,
// which would not stop root.
TEST_F(RemoteTest, WriteFallsBackToInPlaceWhenTheDirectoryRefusesNewFiles) {
    SshConnection connection = connect();
    const std::string directory = scratch_path("locked");
    fs::create_directories(directory);
    ASSERT_TRUE(write_file(directory + "/file", "old content"));
    if (run_command({"chattr", "+i", directory}).exit_code != 0)
        GTEST_SKIP() << "the file system here does not support immutable directories";
    struct Unlock {
        std::string directory;
        ~Unlock() { run_command({"chattr", "-i", directory}); }
    } unlock{directory};

    ASSERT_FALSE(write_file(directory + "/probe", "x"));
    auto written = remote_write_file(connection, directory + "/file", "new");
    ASSERT_TRUE(written.has_value()) << written.error();
    EXPECT_EQ(read_file(directory + "/file"), "new");
    // A file that may not be written is refused, although its directory would allow
    // replacing it.
    const std::string pinned = scratch_path("pinned");
    ASSERT_TRUE(write_file(pinned, "pinned"));
    ASSERT_EQ(run_command({"chattr", "+i", pinned}).exit_code, 0);
    Unlock unlock_file{pinned};
    EXPECT_EQ(remote_write_file(connection, pinned, "new").error(),
              "[Errno 1] Operation not permitted: '" + pinned + "'");
    EXPECT_EQ(read_file(pinned), "pinned");
    EXPECT_TRUE(temporary_files(scratch()).empty());

    // A file that does not exist yet cannot be made there: the error says so.
    EXPECT_NE(remote_write_file(connection, directory + "/other", "x").error().find("[Errno 1]"),
              std::string::npos);
}
