// Reads the user's ~/.ssh/config, with the files it includes, into host entries.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace wrenfield {

// One alias of a Host line and the settings collected for it (the first value of each wins).
struct SshConfigHost {
    std::string name;
    std::optional<std::string> hostname;
    std::optional<std::string> user;
    std::optional<uint16_t> port;
    std::optional<std::string> identity_file;
    std::optional<bool> identities_only;
};

// $HOME/.ssh/config parsed; empty when HOME is unset or not UTF-8.
std::vector<SshConfigHost> load_ssh_config();

// One file (and, through Include, the files it names); `home` expands "~" and is the
// fallback base directory. A missing, unreadable or non-UTF-8 file gives no entries.
std::vector<SshConfigHost> parse_ssh_config_file(const std::filesystem::path& path,
                                                 std::string_view home);

// First entry whose name, else whose hostname, equals `host` ignoring ASCII case.
std::optional<SshConfigHost> find_config_host(std::string_view host);

std::vector<std::string> split_words(std::string_view text);
std::string unquote_value(std::string_view text);
std::string expand_home_path(std::string_view text, std::string_view home);

// The API form: keys name, hostname, user, port, identity_file, identities_only; nulls for
// absent fields.
nlohmann::ordered_json to_json(const SshConfigHost& host);

}  // namespace wrenfield
