// Lists the private key files under ~/.ssh and those the SSH configuration names.
#pragma once

#include <string>
#include <vector>

namespace wrenfield {

// Sorted, de-duplicated; "~/.ssh/NAME" for files found, "~/..." or the path as configured.
std::vector<std::string> list_private_keys();

}  // namespace wrenfield
