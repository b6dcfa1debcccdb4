// Writes, renames and deletes at the edges of real file systems, against the real sshd: a
// copy-on-write disk (btrfs) and one without fallocate (ext2) in loop-mounted images, a
// case-insensitive one (FAT), default ACLs, an append-only folder, named pipes, symbolic links
// to folders, two saves of one file at once and the remote interpreter's memory. Mounting needs
// root and the tools of scripts/setup.sh; a case whose tool or kernel feature is missing is
// skipped with the reason.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <future>
#include <set>
#include <thread>

#include <gtest/gtest.h>

#include "base/base64.h"
#include "ssh/remote.h"
#include "support/mounts.h"
#include "support/remote_fixture.h"
#include "support/spawn.h"
#include "support/wait_until.h"

using namespace wrenfield;
using wrenfield::testing::attribute;
using wrenfield::testing::CaseInsensitiveFolder;
using wrenfield::testing::LoopDisk;
using wrenfield::testing::Mount;
using wrenfield::testing::pattern;
using wrenfield::testing::read_file;
using wrenfield::testing::remote_interpreters;
using wrenfield::testing::run_command;
using wrenfield::testing::status_of;
using wrenfield::testing::write_file;
namespace fs = std::filesystem;

namespace {

std::set<std::string> names_in(const std::string& directory) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(directory))
        names.insert(entry.path().filename());
    return names;
}

// Takes a file attribute (chattr) off again when the test ends.
struct Attribute {
    std::string flag, path;
    ~Attribute() { run_command({"chattr", "-" + flag, path}); }
};

// Fills the disk with files of 8 MiB until it is full; returns their paths.
std::vector<std::string> fill(const std::string& directory) {
    std::vector<std::string> fillers;
    const std::string block(8 << 20, 'f');
    for (int i = 0; i < 100; ++i) {
        fillers.push_back(directory + "/filler-" + std::to_string(i));
        if (!write_file(fillers.back(), block))
            break;
    }
    run_command({"sync"});
    return fillers;
}

class FileSystemEdgesTest : public wrenfield::testing::RemoteServerTest {};

}  // namespace

// On a copy-on-write disk an overwrite needs free blocks for all it writes, so reserving the
// file's length reserves nothing: a rewrite in place that the free space cannot hold is refused
// before the first old byte is overwritten, and goes through once there is room.
TEST_F(FileSystemEdgesTest, CopyOnWriteDiskRefusesARewriteItCannotHold) {
    LoopDisk disk("btrfs", 200, scratch());
    if (!disk.failure().empty())
        GTEST_SKIP() << disk.failure();
    SshConnection connection = connect();
    const std::string file = disk.path() + "/file", second = disk.path() + "/second";
    const std::string old = pattern(40 << 20, 'a');
    ASSERT_TRUE(write_file(file, old));
    fs::create_hard_link(file, second);
    const ino_t inode = status_of(file).st_ino;
    std::vector<std::string> fillers = fill(disk.path());
    fs::remove(fillers.front());
    run_command({"btrfs", "filesystem", "sync", disk.path()});

    const std::string fresh = pattern(40 << 20, 'n');
    auto written = remote_write_file(connection, file, fresh);
    ASSERT_FALSE(written.has_value());
    EXPECT_EQ(written.error(), "[Errno 28] No space left on device");
    EXPECT_TRUE(read_file(file) == old);
    EXPECT_TRUE(read_file(second) == old);

    for (const std::string& filler : fillers)
        fs::remove(filler);
    run_command({"btrfs", "filesystem", "sync", disk.path()});
    written = remote_write_file(connection, second, fresh);
    ASSERT_TRUE(written.has_value()) << written.error();
    EXPECT_TRUE(read_file(file) == fresh);
    EXPECT_EQ(status_of(file).st_ino, inode);
    EXPECT_EQ(status_of(file).st_nlink, 2u);
}

// A file rewritten in place on a nearly full copy-on-write disk (two names, and a reflinked copy
// that shares its blocks) holds its old bytes or its new ones after every save, never a mix,
// whatever the margin between the new content and the free space; no stray file is left.
TEST_F(FileSystemEdgesTest, CopyOnWriteRewriteIsOldOrNewNeverAMix) {
    LoopDisk disk("btrfs", 200, scratch());
    if (!disk.failure().empty())
        GTEST_SKIP() << disk.failure();
    SshConnection connection = connect();
    const std::string file = disk.path() + "/file", second = disk.path() + "/second",
                      copy = disk.path() + "/copy";
    const std::string old = pattern(16 << 20, 'a');
    ASSERT_TRUE(write_file(file, old));
    fs::create_hard_link(file, second);
    ASSERT_EQ(run_command({"cp", "--reflink=always", file, copy}).exit_code, 0);
    std::vector<std::string> fillers = fill(disk.path());
    // Frees whole fillers until the disk has at least 16 MiB free, then gives the free space.
    const auto free_space = [&] {
        for (;;) {
            run_command({"btrfs", "filesystem", "sync", disk.path()});
            struct statvfs space {};
            if (::statvfs(disk.path().c_str(), &space) != 0)
                return size_t{0};
            const size_t free = space.f_bavail * space.f_frsize;
            if (free >= (16u << 20) || fillers.empty())
                return free;
            fs::remove(fillers.back());
            fillers.pop_back();
        }
    };

    std::string before = old;
    char seed = 'b';
    for (const size_t margin :
         {size_t{4} << 10, size_t{64} << 10, size_t{512} << 10, size_t{1} << 20, size_t{2} << 20}) {
        SCOPED_TRACE("margin " + std::to_string(margin));
        const size_t free = free_space();
        ASSERT_GT(free, margin);
        const std::set<std::string> names = names_in(disk.path());
        const std::string fresh = pattern(free - margin, seed++);
        const auto written = remote_write_file(connection, file, fresh);
        const auto content = read_file(file);
        ASSERT_TRUE(content.has_value());
        if (written)
            EXPECT_TRUE(*content == fresh);
        else
            EXPECT_TRUE(*content == before) << written.error();
        EXPECT_TRUE(read_file(second) == content);
        EXPECT_TRUE(read_file(copy) == old);
        EXPECT_EQ(status_of(file).st_nlink, 2u);
        EXPECT_EQ(names_in(disk.path()), names);
        before = *content;
    }
}

// A disk without fallocate (ext2) still takes rewrites in place, and still refuses one that its
// free space cannot hold, with the file as it was.
TEST_F(FileSystemEdgesTest, DiskWithoutFallocateRewritesInPlace) {
    LoopDisk disk("ext2", 48, scratch());
    if (!disk.failure().empty())
        GTEST_SKIP() << disk.failure();
    SshConnection connection = connect();
    const std::string file = disk.path() + "/file", second = disk.path() + "/second";
    // The C library's stand-in for a missing fallocate reads the old blocks it covers.
    ASSERT_TRUE(write_file(file, pattern(64 << 10, 'o')));
    fs::create_hard_link(file, second);
    const std::string fresh = pattern(3 << 20, 'n');
    auto written = remote_write_file(connection, file, fresh);
    ASSERT_TRUE(written.has_value()) << written.error();
    EXPECT_TRUE(read_file(second) == fresh);
    EXPECT_EQ(status_of(file).st_nlink, 2u);

    std::vector<std::string> fillers = fill(disk.path());
    fs::remove(fillers.front());
    written = remote_write_file(connection, file, pattern(16 << 20, 'z'));
    ASSERT_FALSE(written.has_value());
    EXPECT_EQ(written.error(), "[Errno 28] No space left on device");
    EXPECT_TRUE(read_file(second) == fresh);
    EXPECT_EQ(fs::file_size(file), fresh.size());
}

// Asked not to replace, a write and a rename refuse any existing name, wherever it is and
// whatever its case on a disk that ignores case; asked nothing, they replace as before.
TEST_F(FileSystemEdgesTest, WriteAndRenameAskedNotToReplaceNeverDo) {
    SshConnection connection = connect();
    const std::string folder = scratch_path("names");
    ASSERT_TRUE(write_file(folder + "/a.txt", "a"));
    ASSERT_TRUE(write_file(folder + "/sub/existing.txt", "precious"));
    fs::create_symlink("nowhere", folder + "/dangling");

    for (const std::string& taken : {folder + "/sub/existing.txt", folder + "/dangling"}) {
        EXPECT_EQ(remote_write_file(connection, taken, "", Existing::Refuse).error(),
                  "[Errno 17] File exists: '" + taken + "'");
    }
    EXPECT_EQ(read_file(folder + "/sub/existing.txt"), "precious");
    EXPECT_FALSE(fs::exists(folder + "/nowhere"));
    EXPECT_EQ(
        remote_rename(connection, folder + "/a.txt", folder + "/sub/existing.txt", Existing::Refuse)
            .error(),
        "[Errno 17] File exists: '" + folder + "/a.txt' -> '" + folder + "/sub/existing.txt'");
    EXPECT_EQ(read_file(folder + "/a.txt"), "a");
    EXPECT_EQ(read_file(folder + "/sub/existing.txt"), "precious");

    ASSERT_TRUE(remote_write_file(connection, folder + "/new.txt", "new", Existing::Refuse));
    EXPECT_EQ(read_file(folder + "/new.txt"), "new");
    ASSERT_TRUE(remote_rename(connection, folder + "/new.txt", folder + "/sub/moved.txt",
                              Existing::Refuse));
    EXPECT_EQ(read_file(folder + "/sub/moved.txt"), "new");
    ASSERT_TRUE(remote_rename(connection, folder + "/a.txt", folder + "/sub/existing.txt"));
    EXPECT_EQ(read_file(folder + "/sub/existing.txt"), "a");
    EXPECT_TRUE(temporary_files(folder).empty());
}

// On a FUSE file system that ignores case, another case of a taken name is taken too; and
// there, without fallocate, a file with two names is still rewritten in place.
TEST_F(FileSystemEdgesTest, FuseFolderThatIgnoresCase) {
    CaseInsensitiveFolder fat(scratch());
    if (!fat.failure().empty())
        GTEST_SKIP() << fat.failure();
    SshConnection connection = connect();
    const std::string notes = fat.path() + "/NOTES.TXT", keep = fat.path() + "/KEEP.TXT";
    ASSERT_TRUE(write_file(notes, "notes"));
    ASSERT_TRUE(write_file(keep, "keep"));
    ASSERT_TRUE(write_file(fat.path() + "/other.txt", "other"));
    EXPECT_EQ(
        remote_write_file(connection, fat.path() + "/notes.txt", "", Existing::Refuse).error(),
        "[Errno 17] File exists: '" + fat.path() + "/notes.txt'");
    EXPECT_FALSE(remote_rename(connection, fat.path() + "/other.txt", fat.path() + "/keep.txt",
                               Existing::Refuse));
    EXPECT_EQ(read_file(notes), "notes");
    EXPECT_EQ(read_file(keep), "keep");
    EXPECT_EQ(read_file(fat.path() + "/other.txt"), "other");
    // A new case for the same name is a rename of that entry, not a clash.
    ASSERT_TRUE(remote_rename(connection, fat.path() + "/other.txt", fat.path() + "/OTHER.txt",
                              Existing::Refuse));
    EXPECT_EQ(names_in(fat.path()), (std::set<std::string>{"KEEP.TXT", "NOTES.TXT", "OTHER.txt"}));

    const std::string file = fat.path() + "/linked";
    ASSERT_TRUE(write_file(file, pattern(64 << 10, 'o')));
    fs::create_hard_link(file, fat.path() + "/second");
    const std::string fresh = pattern(3 << 20, 'n');
    auto written = remote_write_file(connection, file, fresh);
    ASSERT_TRUE(written.has_value()) << written.error();
    EXPECT_TRUE(read_file(fat.path() + "/second") == fresh);
    EXPECT_EQ(status_of(file).st_nlink, 2u);
    written = remote_write_file(connection, fat.path() + "/new.txt", "new");
    ASSERT_TRUE(written.has_value()) << written.error();
    EXPECT_EQ(read_file(fat.path() + "/new.txt"), "new");
    EXPECT_TRUE(temporary_files(fat.path()).empty());
}

// Delete removes the entry its path names: trailing slashes name the link itself, a final "."
// or ".." is refused, and a link to a folder is never walked into.
TEST_F(FileSystemEdgesTest, DeleteNeverFollowsALinkToAFolder) {
    SshConnection connection = connect();
    const std::string target = scratch_path("target");
    ASSERT_TRUE(write_file(target + "/inside/file", "kept"));
    const std::string link = scratch_path("link");
    fs::create_directory_symlink(target, link);

    for (const std::string& path : {link + "/", link + "//"})
        EXPECT_FALSE(remote_delete(connection, path, RemoteEntry::Directory).has_value()) << path;
    for (const std::string& path : {link + "/.", link + "/..", target + "/inside/.."}) {
        EXPECT_EQ(remote_delete(connection, path, RemoteEntry::Directory).error(),
                  "[Errno 22] Invalid argument: '" + path + "'");
        EXPECT_EQ(remote_delete(connection, path, RemoteEntry::File).error(),
                  "[Errno 22] Invalid argument: '" + path + "'");
    }
    EXPECT_EQ(read_file(target + "/inside/file"), "kept");

    ASSERT_TRUE(remote_delete(connection, link + "/", RemoteEntry::File));
    EXPECT_FALSE(fs::is_symlink(link));
    EXPECT_EQ(read_file(target + "/inside/file"), "kept");
}

// A folder that holds another file system, or is one, is not deleted at all: removing it would
// empty that file system first. The message names the mount, found in the mount table (whose
// escapes are undone) also where the device numbers agree, as for a bind mount.
TEST_F(FileSystemEdgesTest, DeleteNeverReachesIntoAnotherFileSystem) {
    SshConnection connection = connect();
    const std::string folder = scratch_path("folder"), point = folder + "/deep/my data";
    ASSERT_TRUE(write_file(folder + "/kept.txt", "kept"));
    fs::create_directories(point);
    {
        Mount tmpfs({"-t", "tmpfs", "-o", "size=1m", "tmpfs"}, point);
        if (!tmpfs.mounted())
            GTEST_SKIP() << "a tmpfs cannot be mounted here (needs root): " << tmpfs.error();
        ASSERT_TRUE(write_file(point + "/inside.txt", "inside"));
        EXPECT_EQ(remote_delete(connection, folder, RemoteEntry::Directory).error(),
                  "[Errno 16] Not deleted: another file system is mounted inside the folder, at " +
                      point + ": '" + folder + "'");
        EXPECT_EQ(
            remote_delete(connection, point + "/", RemoteEntry::Directory).error(),
            "[Errno 16] Not deleted: the folder is the mount point of another file system: '" +
                point + "'");
        EXPECT_EQ(read_file(folder + "/kept.txt"), "kept");
        EXPECT_EQ(read_file(point + "/inside.txt"), "inside");

        const std::string source = scratch_path("source"), bound = scratch_path("other/bound");
        ASSERT_TRUE(write_file(source + "/file", "bound"));
        fs::create_directories(bound);
        Mount bind({"--bind", source}, bound);
        ASSERT_TRUE(bind.mounted()) << bind.error();
        EXPECT_EQ(remote_delete(connection, scratch_path("other"), RemoteEntry::Directory).error(),
                  "[Errno 16] Not deleted: another file system is mounted inside the folder, at " +
                      bound + ": '" + scratch_path("other") + "'");
        EXPECT_EQ(read_file(source + "/file"), "bound");
        EXPECT_EQ(read_file(bound + "/file"), "bound");
    }
    ASSERT_TRUE(remote_delete(connection, folder, RemoteEntry::Directory));
    EXPECT_FALSE(fs::exists(folder));
}

// A new file, written or created exclusively, gets the mode and ACL a plain create gives it
// in a folder with a default ACL.
TEST_F(FileSystemEdgesTest, NewFilesTakeTheFoldersDefaultAcl) {
    SshConnection connection = connect();
    const std::string folder = scratch_path("shared");
    fs::create_directories(folder);
    const auto acl =
        run_command({"setfacl", "-d", "-m", "u::rw-,u:1234:rw-,g::r--,m::rw-,o::---", folder});
    if (acl.exit_code != 0)
        GTEST_SKIP() << "setfacl cannot set a default ACL here: " << acl.error;
    const std::string plain = folder + "/plain";
    const int fd = ::open(plain.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
    ASSERT_GE(fd, 0);
    ::close(fd);
    ASSERT_EQ(status_of(plain).st_mode & 07777, 0660u);
    const auto plain_acl = attribute(plain, "system.posix_acl_access");
    ASSERT_TRUE(plain_acl.has_value());

    for (const auto& [name, existing] :
         {std::pair{"written", Existing::Replace}, std::pair{"created", Existing::Refuse}}) {
        const std::string file = folder + "/" + name;
        ASSERT_TRUE(remote_write_file(connection, file, "content", existing));
        EXPECT_EQ(status_of(file).st_mode, status_of(plain).st_mode) << name;
        EXPECT_EQ(attribute(file, "system.posix_acl_access"), plain_acl) << name;
        EXPECT_EQ(read_file(file), "content");
    }
}

// A write to a named pipe that no program reads is refused at once; with a reader, the bytes
// go through.
TEST_F(FileSystemEdgesTest, WriteToAPipeNeverWaitsForAReader) {
    SshConnection connection = connect();
    const std::string fifo = scratch_path("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    EXPECT_EQ(remote_write_file(connection, fifo, "data").error(),
              "[Errno 6] No program is reading from the named pipe: '" + fifo + "'");

    auto reader = std::async(std::launch::async, [&fifo] {
        std::ifstream in(fifo, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    });
    // The reader waits in its open: then a writer's open that does not wait succeeds. The test
    // holds that end until the remote write is over, so that the reader's data ends only after
    // the remote program's bytes.
    wrenfield::testing::UniqueFd held;
    ASSERT_TRUE(wrenfield::testing::wait_until(
        [&] {
            held.reset(::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
            return static_cast<bool>(held);
        },
        std::chrono::seconds(30)));
    ASSERT_TRUE(remote_write_file(connection, fifo, "through the pipe"));
    held.reset();
    EXPECT_EQ(reader.get(), "through the pipe");
    EXPECT_TRUE(fs::is_fifo(fifo));
}

// A large rewrite in place goes through a file, not the interpreter's memory.
TEST_F(FileSystemEdgesTest, RewriteInPlaceKeepsTheRemoteMemorySmall) {
    SshConnection connection = connect();
    const std::string file = scratch_path("file");
    ASSERT_TRUE(write_file(file, "old"));
    fs::create_hard_link(file, scratch_path("second"));
    const std::string fresh = pattern(192 << 20, 'm');
    auto writer =
        std::async(std::launch::async, [&] { return remote_write_file(connection, file, fresh); });
    long peak_kib = 0;
    const std::string marker = base64_encode(file);
    while (writer.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready) {
        for (pid_t pid : remote_interpreters(marker)) {
            std::ifstream status("/proc/" + std::to_string(pid) + "/status");
            for (std::string line; std::getline(status, line);) {
                if (line.starts_with("VmHWM:"))
                    peak_kib = std::max(peak_kib, std::stol(line.substr(6)));
            }
        }
    }
    auto written = writer.get();
    ASSERT_TRUE(written.has_value()) << written.error();
    EXPECT_TRUE(read_file(scratch_path("second")) == fresh);
    EXPECT_GT(peak_kib, 0) << "the remote interpreter was never seen";
    EXPECT_LT(peak_kib, 48 << 10) << "peak resident memory of the remote python3, KiB";
}

// Saves of one file take its lock: one waits for another, so that two at once are each whole,
// one after the other, never a mix.
TEST_F(FileSystemEdgesTest, TwoRewritesInPlaceNeverInterleave) {
    SshConnection connection = connect();
    const std::string file = scratch_path("file");
    ASSERT_TRUE(write_file(file, "old"));
    fs::create_hard_link(file, scratch_path("second"));

    // Of nearly one size, so that both are ready to write at about the same time.
    const std::string first = pattern(40 << 20, 'a'), second = pattern((40 << 20) - 4096, 'b');
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        auto one = std::async(std::launch::async,
                              [&] { return remote_write_file(connection, file, first); });
        auto other = std::async(std::launch::async,
                                [&] { return remote_write_file(connection, file, second); });
        const auto one_result = one.get(), other_result = other.get();
        EXPECT_TRUE(one_result.has_value()) << one_result.error();
        EXPECT_TRUE(other_result.has_value()) << other_result.error();
        const auto content = read_file(file);
        EXPECT_TRUE(content == first || content == second);
    }
}

// A lock that another program holds on the file stops a save the same way whether the file
// would be replaced or rewritten in place: after a short wait, with a message that names the
// program, the file as it was. Once the lock is let go, the save goes through.
TEST_F(FileSystemEdgesTest, LockHeldByAnotherProgramStopsTheSave) {
    SshConnection connection = connect();
    std::ifstream comm("/proc/self/comm");
    std::string program;
    std::getline(comm, program);
    for (const bool linked : {false, true}) {
        SCOPED_TRACE(linked ? "rewritten in place" : "replaced");
        const std::string file = scratch_path(linked ? "linked" : "single");
        ASSERT_TRUE(write_file(file, "old"));
        if (linked)
            fs::create_hard_link(file, file + "-second");
        const ino_t inode = status_of(file).st_ino;
        const int held = ::open(file.c_str(), O_RDONLY);
        ASSERT_EQ(::flock(held, LOCK_EX), 0);
        EXPECT_EQ(remote_write_file(connection, file, "new").error(),
                  "[Errno 11] The file is locked by another program (" + program + ", process " +
                      std::to_string(::getpid()) + "): '" + file + "'");
        EXPECT_EQ(read_file(file), "old");
        EXPECT_EQ(status_of(file).st_ino, inode);
        EXPECT_TRUE(temporary_files(scratch()).empty());
        ::close(held);
        const auto written = remote_write_file(connection, file, "new");
        ASSERT_TRUE(written.has_value()) << written.error();
        EXPECT_EQ(read_file(file), "new");
    }
}

// In an append-only folder, where no name can be taken away again, a save leaves no new name.
TEST_F(FileSystemEdgesTest, AppendOnlyFolderGetsNoStrayFile) {
    SshConnection connection = connect();
    const std::string folder = scratch_path("log");
    ASSERT_TRUE(write_file(folder + "/file", "old"));
    if (run_command({"chattr", "+a", folder}).exit_code != 0)
        GTEST_SKIP() << "the file system here does not support append-only folders";
    Attribute append_only{"a", folder};
    auto written = remote_write_file(connection, folder + "/file", "new content");
    ASSERT_TRUE(written.has_value()) << written.error();
    written = remote_write_file(connection, folder + "/added", "added");
    ASSERT_TRUE(written.has_value()) << written.error();
    EXPECT_EQ(read_file(folder + "/file"), "new content");
    EXPECT_EQ(read_file(folder + "/added"), "added");
    EXPECT_EQ(names_in(folder), (std::set<std::string>{"added", "file"}));
}
