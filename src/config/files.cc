#include "config/files.h"

#include <fstream>
#include <iterator>
#include <system_error>

#include "base/text.h"

namespace wrenfield {

std::optional<std::string> read_utf8_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad() || !is_valid_utf8(text))
        return std::nullopt;
    return text;
}

bool is_regular_file_following_links(const std::filesystem::path& path) {
    std::error_code error;
    return std::filesystem::is_regular_file(std::filesystem::status(path, error));
}

}  // namespace wrenfield
