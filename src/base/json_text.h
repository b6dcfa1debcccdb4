// How a text's bytes are written as a JSON string. The API's texts are bytes: a remote file
// name need not be UTF-8. Well-formed UTF-8 is written as it is; each byte that is not part of
// a well-formed sequence is written as the escape of a lone surrogate, \udc80 to \udcff for the
// bytes 0x80 to 0xFF (the form the remote programs' Python gives such a byte). The JSON reader
// (json_reader.h) reads those escapes back as the same bytes, so a name goes out to the page
// and comes back byte for byte.
#pragma once

#include <string>
#include <string_view>

namespace wrenfield {

// Appends `text` as a JSON string, quotes included: the quotation mark and the reverse solidus
// escaped, control characters as \b \f \n \r \t or lower-case \u00XX, "/" and non-ASCII
// characters as they are, and each byte that is not UTF-8 as lower-case \udcXX.
void append_json_string(std::string& out, std::string_view text);

}  // namespace wrenfield
