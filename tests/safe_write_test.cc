// Saves that must not lose data or change what the file is, against the real sshd: a full
// disk, a file bind-mounted onto another, a file of another account, extended attributes, a
// remote program killed part way, and large saves the remote side refuses. Mounting and the
// second account need root; those cases are skipped with a message elsewhere.
#include <fcntl.h>
#include <grp.h>
#include <linux/fs.h>
#include <linux/magic.h>
#include <pwd.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <future>
#include <thread>
#include <tuple>

#include <gtest/gtest.h>

#include "base/base64.h"
#include "ssh/process.h"
#include "ssh/remote.h"
#include "ssh/remote_programs.h"
#include "support/mounts.h"
#include "support/remote_fixture.h"
#include "support/wait_until.h"

using namespace wrenfield;
using wrenfield::testing::attribute;
using wrenfield::testing::LoopDisk;
using wrenfield::testing::Mount;
using wrenfield::testing::pattern;
using wrenfield::testing::read_file;
using wrenfield::testing::remote_interpreters;
using wrenfield::testing::run_command;
using wrenfield::testing::status_of;
using wrenfield::testing::TemporaryDirectory;
using wrenfield::testing::wait_until;
using wrenfield::testing::write_file;
namespace fs = std::filesystem;

namespace {

bool set_attribute(const std::string& path, const std::string& name, std::string_view value) {
    return ::setxattr(path.c_str(), name.c_str(), value.data(), value.size(), 0) == 0;
}

// An access ACL in the kernel's extended attribute form: owner rw, user 4242 r, group r,
// mask r, others none.
std::string access_acl() {
    std::string value;
    const auto put = [&value](uint32_t number, size_t bytes) {
        for (size_t i = 0; i < bytes; ++i)
            value.push_back(static_cast<char>((number >> (8 * i)) & 0xff));
    };
    put(2, 4);  // version
    for (const auto& [tag, permissions, id] : {std::tuple<uint32_t, uint32_t, uint32_t>{1, 6, ~0u},
                                               {2, 4, 4242},
                                               {4, 4, ~0u},
                                               {0x10, 4, ~0u},
                                               {0x20, 0, ~0u}}) {
        put(tag, 2);
        put(permissions, 2);
        put(id, 4);
    }
    return value;
}

// Whether the process has a file below `directory` open.
bool has_file_open_below(pid_t pid, const std::string& directory) {
    std::error_code error;
    for (const auto& entry :
         fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
        std::error_code unreadable;
        if (fs::read_symlink(entry.path(), unreadable).string().starts_with(directory + "/"))
            return true;
    }
    return false;
}

// The file's chattr flags, or -1 when they cannot be read.
int file_flags(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    int flags = -1;
    if (fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) != 0)
        flags = -1;
    if (fd >= 0)
        ::close(fd);
    return flags;
}

class SafeWriteTest : public wrenfield::testing::RemoteServerTest {
  protected:
    // Makes the saving account and its group and lets the account log in with the test key.
    // Empty when it is ready, else why not. Both are removed when the test ends.
    std::string prepare_saver() {
        if (::geteuid() != 0)
            return "making a second login account needs root";
        accounts_made_ = true;
        if (::getgrnam(shared_group_.c_str()) == nullptr)
            run_command({"groupadd", shared_group_});
        if (::getpwnam(saver_.c_str()) == nullptr)
            run_command({"useradd", "-m", "-p", "*", "-s", "/bin/sh", "-G", shared_group_, saver_});
        if (::getpwnam(saver_.c_str()) == nullptr || ::getgrnam(shared_group_.c_str()) == nullptr)
            return "useradd could not make the account " + saver_;
        // The server reads its key file as the account logging in.
        fs::permissions(server().directory(), fs::perms::others_exec, fs::perm_options::add);
        return "";
    }

    // Forced: the server may still be ending the account's last session.
    void TearDown() override {
        if (accounts_made_) {
            run_command({"userdel", "--force", "--remove", saver_});
            run_command({"groupdel", shared_group_});
        }
        RemoteServerTest::TearDown();
    }

    // The account that saves files it may write but does not own, and the group it shares.
    // Named after this test process, so that runs side by side (from any checkout) never share
    // one that another run is about to remove.
    const std::string saver_ = "wrenfield-saver-" + std::to_string(::getpid());
    const std::string shared_group_ = "wrenfield-share-" + std::to_string(::getpid());

  private:
    bool accounts_made_ = false;
};

}  // namespace

// A file rewritten in place (it has two names) on a disk without room for the new content:
// the save fails before anything is overwritten, with the system's own text.
TEST_F(SafeWriteTest, FullDiskFailsBeforeTheFileChanges) {
    SshConnection connection = connect();
    const std::string disk = scratch_path("disk");
    fs::create_directories(disk);
    Mount tmpfs({"-t", "tmpfs", "-o", "size=2m", "tmpfs"}, disk);
    if (!tmpfs.mounted())
        GTEST_SKIP() << "a small tmpfs cannot be mounted here (needs root): " << tmpfs.error();

    const std::string file = disk + "/file", second = disk + "/second";
    const std::string old = pattern(200 * 1024, 'a');
    ASSERT_TRUE(write_file(file, old));
    fs::create_hard_link(file, second);
    auto written = remote_write_file(connection, file, pattern(3 << 20, 'n'));
    ASSERT_FALSE(written.has_value());
    EXPECT_EQ(written.error(), "[Errno 28] No space left on device");
    EXPECT_TRUE(read_file(file) == old);
    EXPECT_TRUE(read_file(second) == old);
    EXPECT_EQ(status_of(file).st_nlink, 2u);

    // Content that fits is still written in place, also where the disk is nearly full.
    ASSERT_TRUE(write_file(disk + "/filler", std::string(1700 * 1024, 'f')));
    const std::string fits = pattern(150 * 1024, 'z');
    written = remote_write_file(connection, second, fits);
    ASSERT_TRUE(written.has_value()) << written.error();
    EXPECT_TRUE(read_file(file) == fits);

    // A file with one name, replaced through a new file: no room for that either.
    const std::string single = disk + "/single";
    ASSERT_TRUE(write_file(single, "single"));
    written = remote_write_file(connection, single, pattern(1 << 20, 's'));
    ASSERT_FALSE(written.has_value());
    EXPECT_EQ(written.error(), "[Errno 28] No space left on device");
    EXPECT_EQ(read_file(single), "single");
    EXPECT_TRUE(temporary_files(disk).empty());
}

// A file bind-mounted onto another (as containers provide /etc/hosts) cannot be renamed over:
// the save writes it in place instead.
TEST_F(SafeWriteTest, RefusedRenameRewritesInPlace) {
    SshConnection connection = connect();
    const std::string outside = scratch_path("outside"), hosts = scratch_path("etc/hosts");
    ASSERT_TRUE(write_file(outside, "host copy"));
    ASSERT_TRUE(write_file(hosts, "hidden"));
    Mount bind({"--bind", outside}, hosts);
    if (!bind.mounted())
        GTEST_SKIP() << "a bind mount cannot be made here (needs root): " << bind.error();

    auto written = remote_write_file(connection, hosts, "127.0.0.1 localhost\n");
    ASSERT_TRUE(written.has_value()) << written.error();
    EXPECT_EQ(read_file(hosts), "127.0.0.1 localhost\n");
    EXPECT_EQ(read_file(outside), "127.0.0.1 localhost\n");
    EXPECT_TRUE(temporary_files(scratch_path("etc")).empty());
}

// A file replaced through a new one keeps its owner, group, mode and extended attributes.
TEST_F(SafeWriteTest, ReplacedFileKeepsItsIdentity) {
    SshConnection connection = connect();
    const std::string file = scratch_path("file");
    ASSERT_TRUE(write_file(file, "old"));
    if (!set_attribute(file, "user.origin", "kept"))
        GTEST_SKIP() << "the file system here has no user extended attributes";
    ASSERT_TRUE(set_attribute(file, "system.posix_acl_access", access_acl()));
    // Root may hand the file to anyone; another account keeps its own.
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(file.c_str(), 4242, 4343), 0);
    }
    const struct stat before = status_of(file);
    const auto acl = attribute(file, "system.posix_acl_access");

    auto written = remote_write_file(connection, file, "new");
    ASSERT_TRUE(written.has_value()) << written.error();
    EXPECT_EQ(read_file(file), "new");
    const struct stat after = status_of(file);
    EXPECT_NE(after.st_ino, before.st_ino) << "replaced by a new file";
    EXPECT_EQ(after.st_uid, before.st_uid);
    EXPECT_EQ(after.st_gid, before.st_gid);
    EXPECT_EQ(after.st_mode, before.st_mode);
    EXPECT_EQ(attribute(file, "user.origin"), "kept");
    EXPECT_EQ(attribute(file, "system.posix_acl_access"), acl);
    EXPECT_TRUE(temporary_files(scratch()).empty());
}

// File flags (chattr) are part of the identity a replaced file keeps: nodump and noatime on
// ext4, and no-copy-on-write on btrfs, which a file takes only while it is empty.
TEST_F(SafeWriteTest, ReplacedFileKeepsItsFlags) {
    SshConnection connection = connect();
    std::unique_ptr<LoopDisk> ext4;
    std::string folder = scratch();
    if (run_command({"chattr", "+dA", folder}).exit_code != 0) {
        ext4 = std::make_unique<LoopDisk>("ext4", 32, scratch());
        if (!ext4->failure().empty())
            GTEST_SKIP() << "no file system here takes chattr flags: " << ext4->failure();
        folder = ext4->path();
    } else {
        run_command({"chattr", "-dA", folder});
    }
    const std::string file = folder + "/file";
    ASSERT_TRUE(write_file(file, "old"));
    ASSERT_EQ(run_command({"chattr", "+dA", file}).exit_code, 0);
    const ino_t inode = status_of(file).st_ino;
    auto written = remote_write_file(connection, file, "new content");
    ASSERT_TRUE(written.has_value()) << written.error();
    EXPECT_EQ(read_file(file), "new content");
    EXPECT_NE(status_of(file).st_ino, inode) << "replaced by a new file";
    EXPECT_EQ(file_flags(file) & (FS_NODUMP_FL | FS_NOATIME_FL), FS_NODUMP_FL | FS_NOATIME_FL);
    EXPECT_TRUE(temporary_files(folder).empty());

    LoopDisk btrfs("btrfs", 200, scratch());
    if (!btrfs.failure().empty())
        GTEST_SKIP() << btrfs.failure();
    const std::string unshared = btrfs.path() + "/unshared";
    ASSERT_TRUE(write_file(unshared, ""));
    ASSERT_EQ(run_command({"chattr", "+C", unshared}).exit_code, 0);
    ASSERT_TRUE(write_file(unshared, "old"));
    written = remote_write_file(connection, unshared, pattern(1 << 20, 'c'));
    ASSERT_TRUE(written.has_value()) << written.error();
    EXPECT_TRUE(read_file(unshared) == pattern(1 << 20, 'c'));
    EXPECT_TRUE(file_flags(unshared) & FS_NOCOW_FL);
    EXPECT_TRUE(temporary_files(btrfs.path()).empty());
}

// An account that may write a file it does not own (a shared group folder, a file open to
// everyone) saves it without taking it over; a file it cannot write is refused with the
// remote reason, also for a save too large to be taken in before that.
TEST_F(SafeWriteTest, SaveByAnotherAccountKeepsOwnerGroupAndMode) {
    if (const std::string why = prepare_saver(); !why.empty())
        GTEST_SKIP() << why;
    const uid_t saver = ::getpwnam(saver_.c_str())->pw_uid;
    const gid_t shared = ::getgrnam(shared_group_.c_str())->gr_gid;
    TemporaryDirectory root("wrenfield-shared");
    ASSERT_FALSE(root.path().empty());
    fs::permissions(root.path(), fs::perms(0755));
    const std::string group_folder = root / "group", open_folder = root / "open";
    fs::create_directories(group_folder);
    fs::create_directories(open_folder);
    ASSERT_EQ(::chown(group_folder.c_str(), 0, shared), 0);
    fs::permissions(group_folder, fs::perms(02775));
    fs::permissions(open_folder, fs::perms(0777));

    struct Case {
        std::string path;
        uid_t owner;
        gid_t group;
        mode_t mode;
    };
    const std::vector<Case> cases = {{group_folder + "/shared.txt", 0, shared, 0664},
                                     {open_folder + "/anyone.txt", 0, 0, 0666},
                                     {group_folder + "/own.txt", saver, shared, 0640}};
    for (const Case& each : cases) {
        ASSERT_TRUE(write_file(each.path, "old"));
        ASSERT_EQ(::chown(each.path.c_str(), each.owner, each.group), 0);
        ASSERT_EQ(::chmod(each.path.c_str(), each.mode), 0);
    }

    SshConnection connection = connect(saver_);
    for (const Case& each : cases) {
        SCOPED_TRACE(each.path);
        auto written = remote_write_file(connection, each.path, "saved by " + saver_);
        ASSERT_TRUE(written.has_value()) << written.error();
        EXPECT_EQ(read_file(each.path), "saved by " + saver_);
        const struct stat after = status_of(each.path);
        EXPECT_EQ(after.st_uid, each.owner);
        EXPECT_EQ(after.st_gid, each.group);
        EXPECT_EQ(after.st_mode & 07777, each.mode);
    }
    EXPECT_TRUE(temporary_files(group_folder).empty());
    EXPECT_TRUE(temporary_files(open_folder).empty());

    const std::string read_only = open_folder + "/read-only.txt";
    ASSERT_TRUE(write_file(read_only, "old"));
    ASSERT_EQ(::chmod(read_only.c_str(), 0644), 0);
    for (size_t size : {size_t{3}, size_t{20} << 20}) {
        auto written = remote_write_file(connection, read_only, std::string(size, 'x'));
        ASSERT_FALSE(written.has_value());
        EXPECT_EQ(written.error(), "[Errno 13] Permission denied: '" + read_only + "'");
    }
    EXPECT_EQ(read_file(read_only), "old");
}

// The remote program killed part way through a save leaves the old file and nothing else.
TEST_F(SafeWriteTest, KilledSaveLeavesNoTemporaryFile) {
    SshConnection connection = connect();
    const std::string directory = fs::canonical(scratch());
    const std::string file = directory + "/file";
    ASSERT_TRUE(write_file(file, "precious"));
    std::vector<std::string> command = connection.ssh_command();
    command.push_back(remote_programs::fill_program(remote_programs::kWrite,
                                                    {base64_encode(file), "16777216", "False"}));
    auto process = RunningProcess::start(command, ChildInput::Pipe);
    ASSERT_TRUE(process.has_value());
    ASSERT_TRUE(process->write_input(std::string(1 << 20, 'n')).has_value());

    // Wait until the remote program holds its new file open, then end it.
    std::vector<pid_t> interpreters;
    wait_until(
        [&] {
            interpreters = remote_interpreters(base64_encode(file));
            return interpreters.size() == 1 && has_file_open_below(interpreters[0], directory);
        },
        std::chrono::seconds(30));
    ASSERT_EQ(interpreters.size(), 1u);
    ASSERT_TRUE(has_file_open_below(interpreters[0], directory));
    ASSERT_EQ(::kill(interpreters[0], SIGKILL), 0);
    auto status = process->finish();
    ASSERT_TRUE(status.has_value());
    EXPECT_FALSE(status->success());

    EXPECT_EQ(read_file(file), "precious");
    EXPECT_TRUE(temporary_files(directory).empty());
}

// The remote program killed while it rewrites a file in place: the file holds the new bytes up
// to where it got and the old ones after, never zeros past the old end (the space is reserved
// without growing the file), and the message says that the file may be incomplete. Killed
// once all the new bytes are in, the save has not failed.
TEST_F(SafeWriteTest, KilledRewriteInPlaceSaysTheFileMayBeIncomplete) {
    SshConnection connection = connect();
    std::string folder = fs::canonical(scratch());
    std::unique_ptr<LoopDisk> ext4;
    struct statfs kind {};
    // A copy-on-write disk puts the new bytes on in one step instead.
    if (::statfs(folder.c_str(), &kind) != 0 || kind.f_type == BTRFS_SUPER_MAGIC ||
        kind.f_type == XFS_SUPER_MAGIC) {
        ext4 = std::make_unique<LoopDisk>("ext4", 300, scratch());
        if (!ext4->failure().empty())
            GTEST_SKIP() << ext4->failure();
        folder = ext4->path();
    }
    const std::string file = folder + "/file", second = folder + "/second";
    const std::string old = pattern(32 << 20, 'o'), fresh = pattern(96 << 20, 'n');
    ASSERT_TRUE(write_file(file, old));
    fs::create_hard_link(file, second);
    auto writer =
        std::async(std::launch::async, [&] { return remote_write_file(connection, file, fresh); });

    // Stops the remote program now and then; once the file's start has changed, kills it.
    bool killed = false;
    const std::string start = old.substr(0, 4096);
    while (!killed && writer.wait_for(std::chrono::milliseconds(1)) != std::future_status::ready) {
        const auto interpreters = remote_interpreters(base64_encode(file));
        if (interpreters.size() != 1 || ::kill(interpreters[0], SIGSTOP) != 0)
            continue;
        std::ifstream in(file, std::ios::binary);
        std::string head(4096, '\0');
        in.read(head.data(), static_cast<std::streamsize>(head.size()));
        killed = head != start && ::kill(interpreters[0], SIGKILL) == 0;
        if (!killed)
            ::kill(interpreters[0], SIGCONT);
    }
    const auto written = writer.get();
    ASSERT_TRUE(killed) << "the rewrite ended before it could be stopped";

    const auto content = read_file(file);
    ASSERT_TRUE(content.has_value());
    EXPECT_TRUE(read_file(second) == content);
    if (*content == fresh) {
        EXPECT_TRUE(written.has_value()) << written.error();
        return;
    }
    const size_t reached =
        std::mismatch(content->begin(), content->end(), fresh.begin()).first - content->begin();
    EXPECT_EQ(content->size(), std::max(old.size(), reached));
    EXPECT_TRUE(content->compare(reached, std::string::npos, old, std::min(reached, old.size())) ==
                0)
        << "bytes after the new ones are the old ones, not zeros";
    ASSERT_FALSE(written.has_value());
    EXPECT_EQ(
        written.error(),
        "The save stopped part way through rewriting the file; it may be incomplete: " + file);
}

// A name made while a plain upload to it runs is replaced, as it would have been had it been
// there from the start (its mode kept); an upload asked not to replace refuses it.
TEST_F(SafeWriteTest, NameThatAppearsDuringAnUpload) {
    SshConnection connection = connect();
    const std::string directory = fs::canonical(scratch());
    const std::string half(1 << 20, 'u');
    for (const Existing existing : {Existing::Replace, Existing::Refuse}) {
        const bool replace = existing == Existing::Replace;
        SCOPED_TRACE(replace ? "replace" : "refuse");
        const std::string file = directory + (replace ? "/replaced" : "/kept");
        const DataSource source = [&](const auto& receive) {
            receive(half);
            // Once the remote program holds its new file, the name is made.
            EXPECT_TRUE(wait_until(
                [&] {
                    const auto interpreters = remote_interpreters(base64_encode(file));
                    return interpreters.size() == 1 &&
                           has_file_open_below(interpreters[0], directory);
                },
                std::chrono::seconds(30)));
            EXPECT_FALSE(fs::exists(file));
            EXPECT_TRUE(write_file(file, "appeared"));
            EXPECT_EQ(::chmod(file.c_str(), 0640), 0);
            return receive(half);
        };
        const auto written =
            remote_write_stream(connection, file, 2 * half.size(), source, existing);
        if (replace) {
            ASSERT_TRUE(written.has_value()) << written.error();
            EXPECT_TRUE(read_file(file) == half + half);
            EXPECT_EQ(status_of(file).st_mode & 07777, 0640u);
        } else {
            ASSERT_FALSE(written.has_value());
            EXPECT_EQ(written.error(), "[Errno 17] File exists: '" + file + "'");
            EXPECT_EQ(read_file(file), "appeared");
        }
        EXPECT_TRUE(temporary_files(directory).empty());
    }
}

// A save too large to be taken in before the remote program fails reports why it failed, as
// a small one does.
TEST_F(SafeWriteTest, LargeRefusedSaveNamesTheReason) {
    SshConnection connection = connect();
    const std::string large(20 << 20, 'x');
    EXPECT_EQ(remote_write_file(connection, scratch(), large).error(),
              "[Errno 21] Is a directory: '" + scratch() + "'");
    const std::string missing = scratch_path("missing/file");
    EXPECT_EQ(remote_write_file(connection, missing, large).error(),
              "[Errno 2] No such file or directory: '" + missing + "'");

    const std::string frozen = scratch_path("frozen");
    fs::create_directories(frozen);
    ASSERT_TRUE(write_file(frozen + "/file", "old"));
    Mount bind({"--bind", frozen}, frozen);
    if (!bind.mounted())
        GTEST_SKIP() << "a read-only mount cannot be made here (needs root): " << bind.error();
    ASSERT_EQ(run_command({"mount", "-o", "remount,bind,ro", frozen}).exit_code, 0);
    EXPECT_EQ(remote_write_file(connection, frozen + "/file", large).error(),
              "[Errno 30] Read-only file system: '" + frozen + "/file'");
    EXPECT_EQ(read_file(frozen + "/file"), "old");
}
