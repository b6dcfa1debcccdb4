#include "support/mounts.h"

#include <unistd.h>

#include <filesystem>

namespace wrenfield::testing {

Mount::Mount(std::vector<std::string> arguments, std::string point) : point_(std::move(point)) {
    arguments.insert(arguments.begin(), "mount");
    arguments.push_back(point_);
    auto result = run_command(arguments);
    mounted_ = result.exit_code == 0;
    error_ = result.error;
}

Mount::~Mount() {
    if (mounted_)
        run_command({"umount", point_});
}

LoopDisk::LoopDisk(const std::string& kind, int megabytes, const std::string& parent) {
    namespace fs = std::filesystem;
    if (::geteuid() != 0) {
        failure_ = "mounting a disk image needs root";
        return;
    }
    const std::string image = parent + "/" + kind + ".img";
    point_ = parent + "/" + kind;
    std::error_code error;
    fs::create_directories(point_, error);
    {
        const CommandResult made =
            run_command({"truncate", "-s", std::to_string(megabytes) + "M", image});
        if (made.exit_code != 0) {
            failure_ = "cannot make the image: " + made.error;
            return;
        }
    }
    const std::vector<std::string> format =
        kind == "btrfs" ? std::vector<std::string>{"mkfs.btrfs", "-q", "-f", image}
                        : std::vector<std::string>{"mkfs." + kind, "-q", "-F", image};
    const CommandResult formatted = run_command(format);
    if (formatted.exit_code != 0) {
        failure_ = format[0] + " failed (is it installed?): " + formatted.error;
        return;
    }
    mount_ = std::make_unique<Mount>(std::vector<std::string>{"-o", "loop", image}, point_);
    if (!mount_->mounted()) {
        failure_ = "cannot mount a " + kind + " image through a loop device: " + mount_->error();
        return;
    }
    fs::permissions(point_, fs::perms::all, error);
}

CaseInsensitiveFolder::CaseInsensitiveFolder(const std::string& parent) {
    namespace fs = std::filesystem;
    if (::geteuid() != 0) {
        failure_ = "mounting a FUSE folder for every account needs root";
        return;
    }
    const std::string backing = parent + "/case-backing";
    point_ = parent + "/case-insensitive";
    std::error_code error;
    fs::create_directories(backing, error);
    fs::create_directories(point_, error);
    // The file system goes to the background once it is mounted.
    const CommandResult started =
        run_command({"/usr/bin/python3",
                     std::string(WRENFIELD_SOURCE_DIR) + "/tests/support/case_insensitive_fs.py",
                     backing, point_});
    if (started.exit_code != 0) {
        failure_ =
            "cannot mount the case-insensitive FUSE folder (needs /dev/fuse and "
            "python3-fusepy): " +
            started.error;
        return;
    }
    mounted_ = true;
}

CaseInsensitiveFolder::~CaseInsensitiveFolder() {
    if (mounted_)
        run_command({"umount", point_});
}

}  // namespace wrenfield::testing
