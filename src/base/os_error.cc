#include "base/os_error.h"

#include <cstring>

namespace wrenfield {

std::string os_error_text(int error_number) {
    char buffer[256];
    // The GNU form returns a pointer that may or may not be the buffer.
    const char* text = ::strerror_r(error_number, buffer, sizeof buffer);
    // Appended piece by piece: the one-expression form trips a false -Wrestrict in g++ 12.
    std::string out = text;
    out += " (os error ";
    out += std::to_string(error_number);
    out += ')';
    return out;
}

}  // namespace wrenfield
