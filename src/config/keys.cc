#include "config/keys.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "base/text.h"
#include "config/files.h"
#include "config/ssh_config.h"

namespace wrenfield {
namespace {

namespace fs = std::filesystem;

// Files of ~/.ssh that are known not to be private keys; they are never read.
bool is_excluded_name(std::string_view name) {
    return name.starts_with(".") || name.ends_with(".pub") || name.ends_with(".old") ||
           name.starts_with("known_hosts") || name.starts_with("authorized_keys") ||
           name == "config" || name == "agent";
}

// "~/..." for a path under the home directory, else the path unchanged. The home text
// loses one trailing "/" so that HOME=/home/u/ still matches /home/u/key; a path that only
// shares a text prefix with HOME (/home/alice under /home/al) stays as it is.
std::string shown_form(const std::string& path, std::string_view home) {
    if (home.ends_with("/"))
        home.remove_suffix(1);
    if (path.size() > home.size() && path.starts_with(home) && path[home.size()] == '/')
        return "~" + path.substr(home.size());
    return path;
}

void add_keys_found_in(const fs::path& directory, std::vector<std::string>& keys) {
    std::error_code error;
    fs::directory_iterator entries(directory, error);
    if (error)
        return;
    for (auto entry = entries; entry != fs::directory_iterator(); entry.increment(error)) {
        if (error)
            return;
        if (!is_regular_file_following_links(entry->path()))
            continue;
        const std::string name = decode_utf8_lossy(entry->path().filename().native());
        if (is_excluded_name(name))
            continue;
        const std::optional<std::string> text = read_utf8_file(entry->path());
        if (text && text->find("PRIVATE KEY") != std::string::npos)
            keys.push_back("~/.ssh/" + name);
    }
}

}  // namespace

std::vector<std::string> list_private_keys() {
    const char* home = std::getenv("HOME");
    if (home == nullptr || !is_valid_utf8(home))
        return {};

    std::vector<std::string> keys;
    add_keys_found_in(fs::path(home) / ".ssh", keys);
    for (const SshConfigHost& host : load_ssh_config()) {
        if (host.identity_file)
            keys.push_back(shown_form(*host.identity_file, home));
    }
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    return keys;
}

}  // namespace wrenfield
