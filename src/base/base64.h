// Base64 in the standard alphabet with "=" padding, the form the remote programs decode their
// paths and the file reader sends binary contents in.
#pragma once

#include <string>
#include <string_view>

namespace wrenfield {

std::string base64_encode(std::string_view bytes);

}  // namespace wrenfield
