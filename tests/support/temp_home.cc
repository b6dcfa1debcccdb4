#include "support/temp_home.h"

#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>

namespace wrenfield::testing {

TemporaryHome::TemporaryHome() {
    std::string pattern = (std::filesystem::temp_directory_path() / "wrenfield-home-XXXXXX");
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
    if (const char* home = std::getenv("HOME"))
        saved_home_ = home;
    setenv("HOME", path_.c_str(), 1);
}

TemporaryHome::~TemporaryHome() {
    if (saved_home_)
        setenv("HOME", saved_home_->c_str(), 1);
    else
        unsetenv("HOME");
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::filesystem::path TemporaryHome::write(const std::filesystem::path& relative,
                                           std::string_view text) const {
    const std::filesystem::path file = path_ / relative;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << text;
    return file;
}

}  // namespace wrenfield::testing
