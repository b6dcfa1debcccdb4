// A fresh temporary directory used as HOME for one test; the old HOME comes back after it.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace wrenfield::testing {

class TemporaryHome {
  public:
    TemporaryHome();
    ~TemporaryHome();
    TemporaryHome(const TemporaryHome&) = delete;
    TemporaryHome& operator=(const TemporaryHome&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // Writes `text` to the file at `relative` below the home, creating its directories.
    std::filesystem::path write(const std::filesystem::path& relative, std::string_view text) const;

  private:
    std::filesystem::path path_;
    std::optional<std::string> saved_home_;
};

}  // namespace wrenfield::testing
