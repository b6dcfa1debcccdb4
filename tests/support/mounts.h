// Mounts for the tests that need a file system of a given kind: a mount undone when the test
// ends, a small disk image of a kind (ext2, btrfs) made and mounted through a loop device, and
// a FUSE folder that ignores the case of names. They need root; a test skips with the reason
// when they fail.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "support/local_system.h"

namespace wrenfield::testing {

// One mount, undone when the test ends.
class Mount {
  public:
    Mount(std::vector<std::string> arguments, std::string point);
    ~Mount();
    Mount(const Mount&) = delete;
    Mount& operator=(const Mount&) = delete;

    bool mounted() const { return mounted_; }
    const std::string& error() const { return error_; }

  private:
    std::string point_;
    bool mounted_ = false;
    std::string error_;
};

// A fresh file system of `kind` ("ext2", "btrfs") of `megabytes` in an image file under
// `parent`, mounted at path() (open to every account) until destruction.
class LoopDisk {
  public:
    LoopDisk(const std::string& kind, int megabytes, const std::string& parent);

    // Empty when the disk is mounted, else why not (a missing tool, no loop devices, not root).
    const std::string& failure() const { return failure_; }
    const std::string& path() const { return point_; }

  private:
    std::string point_;
    std::string failure_;
    std::unique_ptr<Mount> mount_;
};

// An empty folder under `parent` shown through FUSE at path(), with names matched regardless of
// case (tests/support/case_insensitive_fs.py, run by Debian's python3 with python3-fusepy),
// until destruction. Like most FUSE file systems it has no fallocate and no unnamed files.
class CaseInsensitiveFolder {
  public:
    explicit CaseInsensitiveFolder(const std::string& parent);
    ~CaseInsensitiveFolder();
    CaseInsensitiveFolder(const CaseInsensitiveFolder&) = delete;
    CaseInsensitiveFolder& operator=(const CaseInsensitiveFolder&) = delete;

    const std::string& failure() const { return failure_; }
    const std::string& path() const { return point_; }

  private:
    std::string point_;
    std::string failure_;
    bool mounted_ = false;
};

}  // namespace wrenfield::testing
