// The operating system's text for an error number.
#pragma once

#include <string>

namespace wrenfield {

// "No such file or directory (os error 2)": the system's text for the error number, then
// the number.
std::string os_error_text(int error_number);

}  // namespace wrenfield
