// Local file reads shared by the configuration reader and the key discovery.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace wrenfield {

// The whole file, or nothing when it cannot be opened or read or is not valid UTF-8.
std::optional<std::string> read_utf8_file(const std::filesystem::path& path);

// True when the path names a regular file once symbolic links are followed; false for
// directories, dangling links and anything that cannot be examined.
bool is_regular_file_following_links(const std::filesystem::path& path);

}  // namespace wrenfield
