// A fresh temporary directory used as HOME for one test; the old HOME comes back after it.
#pragma once

#include <filesystem>
#include <string_view>

#include "support/local_system.h"

namespace wrenfield::testing {

class TemporaryHome {
  public:
    TemporaryHome() : directory_("wrenfield-home"), home_("HOME", directory_.path()) {}

    std::filesystem::path path() const { return directory_.path(); }
    // Writes `text` to the file at `relative` below the home, creating its directories.
    std::filesystem::path write(std::string_view relative, std::string_view text) const {
        write_file(directory_ / relative, text);
        return directory_ / relative;
    }

  private:
    TemporaryDirectory directory_;
    ScopedEnvironmentVariable home_;
};

}  // namespace wrenfield::testing
