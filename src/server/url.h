// Parses "http://localhost" + a request target by the WHATWG URL Standard's rules for special
// URLs, the rules browsers apply to the page's own requests. The parsed path decides which
// asset or API route answers ("/css/../index.html" and "/css/%2e%2e/index.html" are the page),
// and a target the rules refuse gets the 400 reply "Invalid URL". Pinned by tests/url_test.cc,
// whose generated corpus must agree with Node's URL class (tests/url_reference.mjs), and by
// tests/server_dispatch_test.cc for the reply.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

namespace wrenfield {

// The parts of the parsed URL that the dispatch and the router read. Every text is ASCII:
// characters outside the URL sets are percent-encoded and escapes already present stay as
// they are.
struct ParsedUrl {
    std::string host;                     // lower-cased name, dotted IPv4 or bracketed IPv6
    std::optional<uint16_t> port;         // absent when none was given or it was the default 80
    std::string path;                     // begins with "/", dot segments resolved
    std::optional<std::string> query;     // without the "?"; absent when there was no "?"
    std::optional<std::string> fragment;  // without the "#"; absent when there was no "#"
};

// The target is glued directly after "http://localhost", so it may also continue the
// authority (":8080", "@other", ".example"). Fails with a short reason; a host that would
// need international domain name processing (non-ASCII, or an "xn--" label) is refused.
std::expected<ParsedUrl, std::string> parse_request_url(std::string_view request_target);

}  // namespace wrenfield
